// Whether an image file that a run finds at its output is whole: a quick look at the file's
// structure, enough to tell a complete file from one cut short by a killed run, an empty one, or
// something that is not a file at all. It reads a few bytes (and an EXR's line offsets), not the
// pixels.
#pragma once

#include <string>

#include "options.h"

namespace ekrender {

// Empty when the file at `path` looks like a complete image of `format`; otherwise why not, e.g.
// "it is empty", "it is a folder", "it ends before its last line block".
std::string incompleteImageReason(const std::string &path, OutputFormat format);

} // namespace ekrender
