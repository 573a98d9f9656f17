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

// The last handle found is remembered, because a plug-in asks about the same one over and over
// (a particle read makes millions of calls on one master system).
template <typename T> class HandleTable {
public:
  uintptr_t add(T *target, HandleCounter &counter) {
    const uintptr_t handle = counter.next();
    entries_[handle] = target;
    return handle;
  }
  void remove(uintptr_t handle) {
    entries_.erase(handle);
    if (handle == lastHandle_) {
      lastHandle_ = 0;
      lastTarget_ = nullptr;
    }
  }
  T *find(const void *handle) const {
    const uintptr_t key = reinterpret_cast<uintptr_t>(handle);
    if (key == lastHandle_ && key != 0) {
      return lastTarget_;
    }
    auto found = entries_.find(key);
    if (found == entries_.end()) {
      return nullptr;
    }
    lastHandle_ = key;
    lastTarget_ = found->second;
    return lastTarget_;
  }
  size_t size() const { return entries_.size(); }

private:
  std::unordered_map<uintptr_t, T *> entries_;
  mutable uintptr_t lastHandle_ = 0; // handles are never 0 and never reused
  mutable T *lastTarget_ = nullptr;
};

template <typename Handle> Handle *asHandle(uintptr_t value) {
  return reinterpret_cast<Handle *>(value);
}

} // namespace standin
