// The name a misspelt one was most likely meant to be, for "did you mean ...?" in messages.
#pragma once

#include <string>
#include <vector>

namespace ekrender {

// The candidate nearest to `word` by edits (an inserted, dropped or changed character; case and
// '_' for '-' count as no change), or empty when none is near enough to be a likely slip.
std::string closestName(const std::string &word, const std::vector<std::string> &candidates);

} // namespace ekrender
