#include "raw_dialog.h"

namespace flarion_test {

namespace {

RawDialog &self(void *raw) { return *static_cast<RawDialog *>(raw); }

void draw(void *raw, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  RawDialog &d = self(raw);
  d.api->userAreaFill(d.api->instance, d.area, x1, y1, x2, y2, 200, 10, 30);
}

void minimumSize(void *, int32_t *width, int32_t *height) {
  *width = 10;
  *height = 10;
}

int32_t createLayout(void *raw) {
  RawDialog &d = self(raw);
  HostInstance *i = d.api->instance;
  d.api->groupBegin(i, d.dialog, 0, 0, 1, 0);
  d.api->addUserArea(i, d.dialog, kRawArea, 0, 40, 20);
  d.api->addEditNumber(i, d.dialog, kRawNumber, 0, 50, 0);
  d.api->addStaticText(i, d.dialog, kRawText, 0, 0, 0, "");
  d.api->groupEnd(i, d.dialog);
  const HostUserAreaCallbacks area{raw, draw, minimumSize};
  d.area = d.api->attachUserArea(i, d.dialog, kRawArea, &area);
  return 1;
}

int32_t initValues(void *raw) {
  RawDialog &d = self(raw);
  d.api->setInt(d.api->instance, d.dialog, kRawNumber, 5, 0, 10, 1);
  d.api->dialogSetTimer(d.api->instance, d.dialog, kRawTimerMs);
  if (d.onInitValues) {
    d.onInitValues();
  }
  return 1;
}

int32_t command(void *raw, int32_t id) {
  RawDialog &d = self(raw);
  d.commands.push_back(id);
  if (d.onCommand) {
    d.onCommand();
  }
  return 1;
}

void timer(void *raw) {
  RawDialog &d = self(raw);
  ++d.ticks;
  d.tickTimes.push_back(d.api->milliseconds(d.api->instance));
  if (d.nextInterval != 0) {
    d.api->dialogSetTimer(d.api->instance, d.dialog, d.nextInterval);
    d.nextInterval = 0;
  }
  if (d.onTick) {
    d.onTick();
  }
}

} // namespace

HostDialogCallbacks RawDialog::callbacks() {
  return {this, createLayout, initValues, command, timer, [](void *) {}};
}

void RawDialogHost::SetUp() {
  api_ = &host_.api();
  raw_.api = api_;
  const HostDialogCallbacks callbacks = raw_.callbacks();
  raw_.dialog = api_->dialogCreate(api_->instance, &callbacks);
}

standin::DialogWindow &RawDialogHost::open() {
  EXPECT_EQ(api_->dialogOpen(api_->instance, raw_.dialog, kRawDialogId, 300, 200), 1);
  return *host_.dialog(kRawDialogId);
}

bool RawDialogHost::misused(const std::string &operation) const {
  for (const std::string &m : host_.misuses()) {
    if (m.starts_with(operation + ":")) {
      return true;
    }
  }
  return false;
}

standin::HostOptions exactClock() {
  standin::HostOptions options;
  options.clockFollowsWork = false;
  return options;
}

} // namespace flarion_test
