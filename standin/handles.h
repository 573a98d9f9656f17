// Opaque handles the stand-in hands to a plug-in: numbers that are never dereferenced, so a stale
// or foreign handle is recognised and reported instead of crashing the host.
#pragma once

#include <cstdint>
#include <unordered_map>

namespace standin {

// One counter for every kind of handle, so that a handle of one kind is never valid as another.
class HandleCounter {
public:
  uintptr_t next() { return next_ += kStep; }

private:
  static constexpr uintptr_t kStep = 16;
  uintptr_t next_ = 0x10000;
};

template <typename T> class HandleTable {
public:
  uintptr_t add(T *target, HandleCounter &counter) {
    const uintptr_t handle = counter.next();
    entries_[handle] = target;
    return handle;
  }
  void remove(uintptr_t handle) { entries_.erase(handle); }
  T *find(const void *handle) const {
    auto found = entries_.find(reinterpret_cast<uintptr_t>(handle));
    return found == entries_.end() ? nullptr : found->second;
  }
  size_t size() const { return entries_.size(); }

private:
  std::unordered_map<uintptr_t, T *> entries_;
};

template <typename Handle> Handle *asHandle(uintptr_t value) {
  return reinterpret_cast<Handle *>(value);
}

} // namespace standin
