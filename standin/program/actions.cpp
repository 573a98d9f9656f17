#include "program/actions.h"

#include <stdexcept>

namespace standin::program {

namespace {

constexpr const char *kAtForms =
    "set=CONTROL=VALUE, press=CONTROL, frame=N, resize=WxH, busy=0|1|2, mainthread=0|1, close "
    "or open";

// A number of the action that must lie within [minimum, maximum].
int32_t boundedNumber(const std::string &text, const std::string &what, int32_t minimum,
                      int32_t maximum) {
  const int32_t value = parseWholeNumber(text, what);
  if (value < minimum || value > maximum) {
    throw std::invalid_argument(what + " must lie between " + std::to_string(minimum) + " and " +
                                std::to_string(maximum) + ", not " + text);
  }
  return value;
}

void parseResize(const std::string &size, Action &action) {
  const size_t x = size.find('x');
  if (x == std::string::npos) {
    throw std::invalid_argument("--at resize expects WIDTHxHEIGHT, not \"" + size + "\"");
  }
  action.width = boundedNumber(size.substr(0, x), "--at resize width", 0, INT32_MAX);
  action.height = boundedNumber(size.substr(x + 1), "--at resize height", 0, INT32_MAX);
}

} // namespace

int32_t parseWholeNumber(const std::string &text, const std::string &option) {
  size_t used = 0;
  int value = 0;
  try {
    value = std::stoi(text, &used);
  } catch (const std::exception &) {
    used = 0;
  }
  if (used == 0 || used != text.size()) {
    throw std::invalid_argument(option + " expects a whole number, not \"" + text + "\"");
  }
  return value;
}

Action parseSetAction(const std::string &text, const std::string &option) {
  const size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0) {
    throw std::invalid_argument(option + " expects CONTROL=VALUE, not \"" + text + "\"");
  }
  Action action;
  action.kind = Action::Kind::Set;
  action.control = text.substr(0, equals);
  action.value = text.substr(equals + 1);
  return action;
}

Action parseTimedAction(const std::string &text) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos || colon == 0) {
    throw std::invalid_argument("--at expects TICK:ACTION, not \"" + text + "\"");
  }
  const int32_t tick = boundedNumber(text.substr(0, colon), "--at tick", 0, INT32_MAX);
  const std::string request = text.substr(colon + 1);
  const size_t equals = request.find('=');
  const std::string name = request.substr(0, equals);
  const std::string argument = equals == std::string::npos ? "" : request.substr(equals + 1);
  const bool hasArgument = equals != std::string::npos;
  Action action;
  if (name == "set" && hasArgument) {
    action = parseSetAction(argument, "--at set");
  } else if (name == "press" && hasArgument && !argument.empty()) {
    action.kind = Action::Kind::Press;
    action.control = argument;
  } else if (name == "frame" && hasArgument) {
    action.kind = Action::Kind::Frame;
    action.number = parseWholeNumber(argument, "--at frame");
  } else if (name == "resize" && hasArgument) {
    action.kind = Action::Kind::Resize;
    parseResize(argument, action);
  } else if (name == "busy" && hasArgument) {
    action.kind = Action::Kind::Busy;
    action.number = boundedNumber(argument, "--at busy", 0, 2);
  } else if (name == "mainthread" && hasArgument) {
    action.kind = Action::Kind::MainThread;
    action.number = boundedNumber(argument, "--at mainthread", 0, 1);
  } else if (request == "close") {
    action.kind = Action::Kind::Close;
  } else if (request == "open") {
    action.kind = Action::Kind::Open;
  } else {
    throw std::invalid_argument("--at " + text + ": the action must be one of " + kAtForms);
  }
  action.tick = tick;
  return action;
}

} // namespace standin::program
