// What a plug-in showed in its dialogs, as the host records it: finished preview images and the
// draws of user areas.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ui/dialog_window.h"

namespace standin {

struct PreviewEvent {
  int64_t tick = 0;     // timer callbacks fired when the event happened
  double clockMs = 0.0; // the virtual clock when the event happened
  enum class Kind {
    Image,  // a callback set the rows of a bitmap and asked a user area to redraw
    Redraw, // the host called a user area's draw callback
  } kind = Kind::Image;
  int32_t controlId = 0; // the user area
  int32_t width = 0;     // Image: the bitmap whose rows were set; Redraw: the user area
  int32_t height = 0;
  std::string status; // Image: the status line after the callback; Redraw: empty
};

// What the plug-in did during the outermost callback in progress that makes a preview image.
struct PreviewActivity {
  bool rowsSet = false;
  Size bitmapSize;                   // the bitmap whose rows were set last
  uintptr_t redrawWindow = 0;        // handle of the window of the user area asked to redraw
  int32_t redrawArea = 0;            // that user area's control ID; 0 when none was asked
  std::optional<std::string> status; // the text last set on a static text control
};

} // namespace standin
