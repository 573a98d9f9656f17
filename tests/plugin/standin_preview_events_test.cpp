// What the stand-in host records of the previews a plug-in shows: an image for each callback that
// filled a bitmap and asked for a redraw, and every draw of a user area.
#include "raw_dialog.h"

namespace flarion_test {
namespace {

using Kind = standin::PreviewEvent::Kind;

class PreviewEvents : public RawDialogHost {
protected:
  void TearDown() override {
    if (bitmap_) {
      api_->bitmapFree(api_->instance, bitmap_);
    }
  }
  // Fills every row of a bitmap of the size, as a preview copies its image into one.
  void fillBitmap(int32_t width, int32_t height) {
    if (!bitmap_) {
      bitmap_ = api_->bitmapCreate(api_->instance);
    }
    ASSERT_EQ(api_->bitmapInit(api_->instance, bitmap_, width, height, 24), 1);
    const std::vector<uint8_t> row(size_t(width) * 3, 128);
    for (int32_t y = 0; y < height; ++y) {
      api_->bitmapSetRow(api_->instance, bitmap_, y, width, row.data(), 3);
    }
  }
  void redraw() { api_->userAreaRedraw(api_->instance, raw_.area); }
  void setStatus(const char *text) { api_->setText(api_->instance, raw_.dialog, kRawText, text); }
  // The events recorded since the mark.
  std::vector<standin::PreviewEvent> eventsSince(size_t mark) const {
    const auto &all = host_.previewEvents();
    return {all.begin() + std::ptrdiff_t(mark), all.end()};
  }

  HostBitmap *bitmap_ = nullptr;
};

TEST_F(PreviewEvents, AnImageNeedsRowsAndARedrawInOneCallback) {
  open();
  ASSERT_EQ(host_.previewEvents().size(), 1u); // the window's first draw
  EXPECT_EQ(host_.previewEvents()[0].kind, Kind::Redraw);
  EXPECT_EQ(host_.previewEvents()[0].tick, 0);

  raw_.onTick = [&] {
    fillBitmap(3, 2); // a bitmap filled first does not count: the last one does
    fillBitmap(8, 4);
    redraw();
    setStatus("Particles: 3");
  };
  ASSERT_EQ(host_.runTicks(1), 1);
  const auto events = eventsSince(1);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].kind, Kind::Image);
  EXPECT_EQ(events[0].tick, 1);
  EXPECT_GE(events[0].clockMs, double(kRawTimerMs));
  EXPECT_EQ(events[0].controlId, kRawArea);
  EXPECT_EQ(events[0].width, 8);
  EXPECT_EQ(events[0].height, 4);
  EXPECT_EQ(events[0].status, "Particles: 3");
  // Then the host draws the area, at its own size.
  EXPECT_EQ(events[1].kind, Kind::Redraw);
  EXPECT_EQ(events[1].tick, 1);
  EXPECT_EQ(events[1].controlId, kRawArea);
  EXPECT_EQ(events[1].width, 40);
  EXPECT_EQ(events[1].height, 20);
  EXPECT_EQ(events[1].status, "");

  // Rows alone, or a redraw alone, make no image.
  raw_.onTick = [&] { fillBitmap(8, 4); };
  const size_t mark = host_.previewEvents().size();
  ASSERT_EQ(host_.runTicks(1), 1);
  EXPECT_TRUE(eventsSince(mark).empty());
  raw_.onTick = [&] { redraw(); };
  ASSERT_EQ(host_.runTicks(1), 1);
  const auto redrawOnly = eventsSince(mark);
  ASSERT_EQ(redrawOnly.size(), 1u);
  EXPECT_EQ(redrawOnly[0].kind, Kind::Redraw);
  EXPECT_EQ(redrawOnly[0].tick, 3);
  EXPECT_TRUE(host_.misuses().empty());
}

TEST_F(PreviewEvents, StatusIsTheTextSetLastOrTheOneSetBefore) {
  open();
  raw_.onCommand = [&] {
    fillBitmap(4, 4);
    redraw();
  };
  standin::DialogWindow &window = *host_.dialog(kRawDialogId);
  // No text was ever set: the status is empty. Commands make images as ticks do.
  ASSERT_TRUE(host_.userSetNumber(window, kRawNumber, 1.0));
  ASSERT_EQ(host_.previewEvents().size(), 3u);
  EXPECT_EQ(host_.previewEvents()[1].kind, Kind::Image);
  EXPECT_EQ(host_.previewEvents()[1].tick, 0);
  EXPECT_EQ(host_.previewEvents()[1].status, "");
  // A text set in an earlier callback is the status of a later image that sets none.
  raw_.onTick = [&] { setStatus("Rendering"); };
  ASSERT_EQ(host_.runTicks(1), 1);
  ASSERT_TRUE(host_.userSetNumber(window, kRawNumber, 2.0));
  ASSERT_EQ(host_.previewEvents().size(), 5u);
  EXPECT_EQ(host_.previewEvents()[3].kind, Kind::Image);
  EXPECT_EQ(host_.previewEvents()[3].tick, 1);
  EXPECT_EQ(host_.previewEvents()[3].status, "Rendering");
}

TEST_F(PreviewEvents, ImagesOfCallbacksInsideCallbacksAreRecordedOnceAtTheEnd) {
  // The image is finished in initValues, which runs inside the command that opens the dialog.
  const HostCommandCallbacks command{&raw_,
                                     [](void *self, HostDocument *) -> int32_t {
                                       auto &d = *static_cast<RawDialog *>(self);
                                       return d.api->dialogOpen(d.api->instance, d.dialog,
                                                                kRawDialogId, 300, 200);
                                     },
                                     nullptr};
  ASSERT_EQ(api_->registerCommand(api_->instance, kRawDialogId, "Raw", "", &command), 1);
  raw_.onInitValues = [&] {
    fillBitmap(6, 2);
    redraw();
    setStatus("Ready");
  };
  ASSERT_TRUE(host_.runCommand(kRawDialogId));
  const auto &events = host_.previewEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].kind, Kind::Image);
  EXPECT_EQ(events[0].status, "Ready");
  EXPECT_EQ(events[1].kind, Kind::Redraw); // drawn once the command returned, not inside it
  EXPECT_GE(events[1].clockMs, events[0].clockMs);
}

} // namespace
} // namespace flarion_test
