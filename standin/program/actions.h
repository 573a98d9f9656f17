// What the user of flarion-host does during a run, each at a chosen tick.
#pragma once

#include <cstdint>
#include <string>

namespace standin::program {

struct Action {
  enum class Kind {
    Set,        // change a control's value
    Press,      // press a button
    Frame,      // move the time slider of the active document
    Resize,     // the layout gives the preview area a new size
    Busy,       // the host's busy state: 1 view drawing, 2 editor rendering, 0 neither
    MainThread, // the main-thread query's answer
    Close,      // close the dialog window
    Open,       // run the command again, which opens the window
  };
  Kind kind = Kind::Set;
  int32_t tick = 0;    // runs once this many ticks of the run have passed
  std::string control; // Set, Press: the control's ID or label
  std::string value;   // Set
  int32_t number = 0;  // Frame: the frame; Busy: 0, 1 or 2; MainThread: 0 or 1
  int32_t width = 0;   // Resize
  int32_t height = 0;  // Resize
};

// Parses the text of --at, TICK:ACTION; throws std::invalid_argument naming what is wrong.
Action parseTimedAction(const std::string &text);
// Parses CONTROL=VALUE of --set (and of set= in --at).
Action parseSetAction(const std::string &text, const std::string &option);
// Parses a whole number of the option; throws std::invalid_argument naming the option.
int32_t parseWholeNumber(const std::string &text, const std::string &option);

} // namespace standin::program
