#include "closest_name.h"

#include <algorithm>
#include <cctype>

namespace ekrender {

namespace {

char folded(char c) { return c == '_' ? '-' : char(std::tolower(static_cast<unsigned char>(c))); }

// Levenshtein distance over folded characters, one row at a time.
size_t editDistance(const std::string &a, const std::string &b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j)
    row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      const size_t change = diagonal + (folded(a[i - 1]) == folded(b[j - 1]) ? 0 : 1);
      row[j] = std::min({change, row[j - 1] + 1, above + 1});
      diagonal = above;
    }
  }
  return row[b.size()];
}

} // namespace

std::string closestName(const std::string &word, const std::vector<std::string> &candidates) {
  // Up to one edit in three characters, at least one: "ouput" finds "output", "lights" finds
  // "light", "colour" finds nothing.
  const size_t allowed = std::max<size_t>(1, word.size() / 3);
  std::string best;
  size_t bestDistance = allowed + 1;
  for (const std::string &candidate : candidates) {
    const size_t distance = editDistance(word, candidate);
    if (distance < bestDistance) {
      best = candidate;
      bestDistance = distance;
    }
  }
  return best;
}

} // namespace ekrender
