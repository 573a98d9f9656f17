// Where the camera pass placed each copy's samples, kept for the shading that follows it. Where
// the samples of a copy coincide (no motion blur, no lens), the camera pass and the shading place
// the same copy at the same point with the same constants: keeping the placing spares the shading
// a projection, a cross-section and a depth split for each copy.
#pragma once

#include <cstdint>
#include <cstring>
#include <new>

#include "cpu/page_array.h"
#include "kernels/volume.h"

namespace ek {

// A CameraSample without what the shading has at hand anyway (the work item and the position,
// which is the copy's own).
struct KeptCameraSample {
  uint32_t pixel;
  float fraction;
  float coverage;
  uint16_t k0;
  uint8_t placed; // 0 for a culled copy
};

inline KeptCameraSample keptCameraSample(const CameraSample &s) {
  return {s.pixel, s.slices.fraction, s.coverage, uint16_t(s.slices.k0), 1};
}

// The camera sample of `work` at `copy` as cameraSampleOfCopy places it, from what the camera
// pass kept of it (which must be placed).
inline CameraSample cameraSampleOf(const KeptCameraSample &k, const VolumeConstants &vol,
                                   const WorkItem &work, const EKV3 &copy) {
  CameraSample s;
  s.work = work;
  s.position = copy;
  s.pixel = k.pixel;
  s.slices = {k.k0, k.k0 + 1 < vol.camSlices ? k.k0 + 1 : k.k0, k.fraction};
  s.coverage = k.coverage;
  return s;
}

// The camera samples of one camera pass: one for each copy of the particles in visiting order,
// for the frame, the constants and the copies that pass had.
class KeptCameraSamples {
public:
  static constexpr uint64_t kMaxCopies = uint64_t(1) << 24;

  // Room for the samples of a camera pass over `copies` copies, for a shading that follows with
  // the same frame and constants; null (nothing kept) where they do not fit.
  KeptCameraSample *keepFor(const Frame &frame, const VolumeConstants &vol, uint64_t copies) {
    forget();
    if (copies == 0 || copies > kMaxCopies || vol.camSlices > UINT16_MAX)
      return nullptr;
    try {
      samples_.resizeForOverwrite(copies);
    } catch (const std::bad_alloc &) {
      return nullptr;
    }
    frame_ = frame;
    vol_ = vol;
    kept_ = true;
    return samples_.data();
  }

  void forget() { kept_ = false; }

  // The samples kept for a pass with this frame and these constants over these copies; null
  // where none were.
  const KeptCameraSample *find(const Frame &frame, const VolumeConstants &vol,
                               uint64_t copies) const {
    const bool same = kept_ && copies == samples_.size() &&
                      std::memcmp(&frame, &frame_, sizeof(Frame)) == 0 &&
                      std::memcmp(&vol, &vol_, sizeof(VolumeConstants)) == 0;
    return same ? samples_.data() : nullptr;
  }

private:
  PageArray<KeptCameraSample> samples_;
  bool kept_ = false;
  Frame frame_{};
  VolumeConstants vol_{};
};

} // namespace ek
