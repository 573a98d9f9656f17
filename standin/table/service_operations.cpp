// Host state queries, the clock, number formatting, files and messages.
#include "table/table_common.h"

#include <cstdio>

#include "utf8_path.h"

namespace standin {

namespace {

constexpr int32_t kMaxDecimals = 17;
constexpr int32_t kButtonOk = 1;

int32_t isMainThread(HostInstance *instance) {
  HostState &s = *instance->state;
  return s.checkThread("isMainThread") && s.mainThreadAnswer ? 1 : 0;
}

int32_t isBusy(HostInstance *instance, int32_t code) {
  return stateOf(instance, "isBusy").busy.contains(code) ? 1 : 0;
}

double milliseconds(HostInstance *instance) { return stateOf(instance, "milliseconds").now(); }

int32_t formatReal(HostInstance *instance, double value, int32_t decimals, char *buffer,
                   int32_t size) {
  stateOf(instance, "formatReal");
  char text[400];
  const int32_t clamped = decimals < 0 ? 0 : (decimals > kMaxDecimals ? kMaxDecimals : decimals);
  std::snprintf(text, sizeof text, "%.*f", int(clamped), value);
  return writeText(text, buffer, size);
}

int32_t pluginFolder(HostInstance *instance, char *buffer, int32_t size) {
  HostState &s = stateOf(instance, "pluginFolder");
  return s.pluginFolder.empty() ? -1 : writeText(utf8FromPath(s.pluginFolder), buffer, size);
}

int32_t chooseFolder(HostInstance *instance, const char *title, char *buffer, int32_t size) {
  HostState &s = stateOf(instance, "chooseFolder");
  s.folderChooserTitles.push_back(title ? title : "");
  return s.folderChoice ? writeText(*s.folderChoice, buffer, size) : -1;
}

int32_t joinPath(HostInstance *instance, const char *folder, const char *name, char *buffer,
                 int32_t size) {
  HostState &s = stateOf(instance, "joinPath");
  if (!folder || !name) {
    s.recordMisuse("joinPath", "folder and name are required");
    return -1;
  }
  return writeText(utf8FromPath(pathFromUtf8(folder) / pathFromUtf8(name)), buffer, size);
}

int32_t messageBox(HostInstance *instance, const char *text, int32_t flags) {
  HostState &s = stateOf(instance, "messageBox");
  std::string record = "[";
  record += std::to_string(flags);
  record += "] ";
  record += text ? text : "";
  s.messageBoxes.push_back(std::move(record));
  return kButtonOk;
}

void statusBarSetPercent(HostInstance *instance, int32_t percent) {
  HostState &s = stateOf(instance, "statusBarSetPercent");
  s.statusBar.push_back(StatusBarEvent{false, percent, s.ticksFired});
}

void statusBarClear(HostInstance *instance) {
  HostState &s = stateOf(instance, "statusBarClear");
  s.statusBar.push_back(StatusBarEvent{true, 0, s.ticksFired});
}

} // namespace

void fillServiceOperations(HostApi &api) {
  api.isMainThread = isMainThread;
  api.isBusy = isBusy;
  api.milliseconds = milliseconds;
  api.formatReal = formatReal;
  api.pluginFolder = pluginFolder;
  api.chooseFolder = chooseFolder;
  api.joinPath = joinPath;
  api.messageBox = messageBox;
  api.statusBarSetPercent = statusBarSetPercent;
  api.statusBarClear = statusBarClear;
}

} // namespace standin
