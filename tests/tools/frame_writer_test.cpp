#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "frame_writer.h"

namespace {

using ekrender::FrameWriter;
using namespace std::chrono_literals;

// Frames and notes come out in the order handed over, each write sees its own frame's pixels, and
// no more than two buffers ever exist.
TEST(EkrenderFrameWriter, ReportsInOrderWithAtMostTwoBuffers) {
  std::vector<std::string> events, written;
  FrameWriter writer(4, [&](const std::string &event) { events.push_back(event); });
  std::vector<const std::vector<float> *> seen;
  for (int frame = 1; frame <= 6; ++frame) {
    if (frame == 3) {
      writer.note("kept 3");
      continue;
    }
    std::vector<float> *image = writer.acquire();
    ASSERT_NE(image, nullptr);
    if (std::find(seen.begin(), seen.end(), image) == seen.end())
      seen.push_back(image);
    image->assign(4, float(frame));
    writer.submit(
        image,
        [&written, frame](const std::vector<float> &pixels, std::string &) {
          std::this_thread::sleep_for(2ms); // let the next frame catch up
          written.push_back(std::to_string(frame) + "=" + std::to_string(int(pixels[3])));
          return true;
        },
        "wrote " + std::to_string(frame));
  }
  std::string error;
  ASSERT_TRUE(writer.finish(error)) << error;
  EXPECT_EQ(events, (std::vector<std::string>{"wrote 1", "wrote 2", "kept 3", "wrote 4", "wrote 5",
                                              "wrote 6"}));
  EXPECT_EQ(written, (std::vector<std::string>{"1=1", "2=2", "4=4", "5=5", "6=6"}));
  EXPECT_LE(seen.size(), 2u) << "more than two frames in memory";
}

// While frame 1 is being written, frame 2 can render; frame 3 waits for frame 1's buffer.
TEST(EkrenderFrameWriter, ThirdFrameWaitsForTheFirstWrite) {
  std::promise<void> letGo;
  std::shared_future<void> gate = letGo.get_future().share();
  std::atomic<bool> firstWritten{false};
  FrameWriter writer(8, [](const std::string &) {});
  std::vector<float> *first = writer.acquire();
  writer.submit(
      first,
      [gate, &firstWritten](const std::vector<float> &, std::string &) {
        gate.wait();
        firstWritten = true;
        return true;
      },
      "1");
  std::vector<float> *second = writer.acquire(); // does not wait for the write
  ASSERT_NE(second, first);
  writer.submit(
      second, [](const std::vector<float> &, std::string &) { return true; }, "2");
  auto third = std::async(std::launch::async, [&writer] { return writer.acquire(); });
  EXPECT_EQ(third.wait_for(50ms), std::future_status::timeout) << "a third frame in memory";
  letGo.set_value();
  std::vector<float> *reused = third.get();
  EXPECT_TRUE(firstWritten);
  EXPECT_TRUE(reused == first || reused == second);
  writer.release(reused);
  std::string error;
  EXPECT_TRUE(writer.finish(error));
}

// A failed write ends the sequence: nothing after it is written or reported, the frame renders no
// more, and the message comes back.
TEST(EkrenderFrameWriter, FailedWriteStopsTheRest) {
  std::vector<std::string> events;
  int writes = 0;
  FrameWriter writer(4, [&](const std::string &event) { events.push_back(event); });
  auto write = [&writes](int frame) {
    return [&writes, frame](const std::vector<float> &, std::string &error) {
      ++writes;
      if (frame != 2)
        return true;
      error = "frame 2: could not write \"f_0002.png\": No space left on device";
      return false;
    };
  };
  for (int frame = 1; frame <= 4; ++frame) {
    std::vector<float> *image = writer.acquire();
    if (!image)
      break;
    writer.submit(image, write(frame), "wrote " + std::to_string(frame));
  }
  writer.note("kept 5");
  std::string error;
  EXPECT_FALSE(writer.finish(error));
  EXPECT_EQ(error, "frame 2: could not write \"f_0002.png\": No space left on device");
  EXPECT_EQ(events, std::vector<std::string>{"wrote 1"});
  EXPECT_EQ(writes, 2);
  EXPECT_TRUE(writer.failed());
  EXPECT_EQ(writer.acquire(), nullptr);
}

} // namespace
