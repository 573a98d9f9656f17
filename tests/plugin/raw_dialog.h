// A dialog written against the raw operation table, for tests of the stand-in host itself: a user
// area, a number field and a static text. It counts timer ticks and commands, draws its area in
// one colour, and runs what a test hands it on each tick and command.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host.h"

namespace flarion_test {

constexpr int32_t kRawDialogId = 99;
constexpr int32_t kRawArea = 10;
constexpr int32_t kRawNumber = 11;
constexpr int32_t kRawText = 12;
constexpr int32_t kRawTimerMs = 25;

struct RawDialog {
  const HostApi *api = nullptr;
  HostDialog *dialog = nullptr;
  HostUserArea *area = nullptr;
  int ticks = 0;
  std::vector<int32_t> commands;
  std::vector<double> tickTimes; // milliseconds() as each tick began
  int32_t nextInterval = 0;      // set by a tick when not 0
  std::function<void()> onTick;
  std::function<void()> onCommand;
  std::function<void()> onInitValues;

  // The callbacks the dialog is created with.
  HostDialogCallbacks callbacks();
};

// A host with one raw dialog created (not yet opened).
class RawDialogHost : public ::testing::Test {
protected:
  explicit RawDialogHost(standin::HostOptions options = {}) : host_(std::move(options)) {}
  void SetUp() override;
  // Opens the raw dialog and returns its window.
  standin::DialogWindow &open();
  // True when the host recorded misuse of the operation.
  bool misused(const std::string &operation) const;

  standin::Host host_;
  const HostApi *api_ = nullptr;
  RawDialog raw_;
};

// Host options with a clock that moves only when the host is told to advance it.
standin::HostOptions exactClock();

} // namespace flarion_test
