// Growing the plug-in's reusable buffers without letting an allocation failure escape.
#pragma once

#include <cstddef>
#include <new>
#include <stdexcept>
#include <vector>

namespace ek::plugin {

// Resizes the buffer to exactly `size` elements (new ones zeroed, the capacity never given
// back); false when memory runs out.
template <typename T> bool tryResize(std::vector<T> &buffer, size_t size) {
  try {
    buffer.resize(size);
  } catch (const std::bad_alloc &) {
    return false;
  } catch (const std::length_error &) {
    return false;
  }
  return true;
}

} // namespace ek::plugin
