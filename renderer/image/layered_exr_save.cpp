// ekSaveLayeredEXR: the layered EXR writer behind the C interface. Turns the caller's channel
// records into the writer's image, checking what the writer's own types cannot hold (a null name,
// a negative stride, an unknown type), and reports the writer's result as an errno number.
#include <algorithm>
#include <cerrno>
#include <optional>
#include <utility>

#include "emberkit.h"
#include "image/layered_exr.h"
#include "image/save_call.h"

namespace ek::image {

namespace {

std::optional<ExrSampleType> sampleType(int32_t type) {
  switch (type) {
  case EK_EXR_HALF:
    return ExrSampleType::kHalf;
  case EK_EXR_FLOAT:
    return ExrSampleType::kFloat;
  default:
    return std::nullopt;
  }
}

std::optional<ExrCompression> compressionOf(int32_t compression) {
  switch (compression) {
  case EK_EXR_COMPRESSION_NONE:
    return ExrCompression::kNone;
  case EK_EXR_COMPRESSION_ZIP:
    return ExrCompression::kZip;
  default:
    return std::nullopt;
  }
}

std::optional<ExrMatrix> matrixOf(const float *elements) {
  if (elements == nullptr) {
    return std::nullopt;
  }
  ExrMatrix matrix;
  std::copy(elements, elements + matrix.size(), matrix.begin());
  return matrix;
}

// The channel as the writer takes it, or nothing when the record cannot be one.
std::optional<ExrChannel> channelOf(const EKExrChannel &record) {
  const std::optional<ExrSampleType> type = sampleType(record.type);
  if (record.name == nullptr || record.pixels == nullptr || !type || record.pixelStride < 1 ||
      record.rowStride < 0) {
    return std::nullopt;
  }
  return ExrChannel{record.name, *type, record.pixels, static_cast<std::size_t>(record.pixelStride),
                    static_cast<std::size_t>(record.rowStride)};
}

int errorOf(const LayeredExrResult &result) {
  switch (result.status) {
  case LayeredExrStatus::kOk:
    return 0;
  case LayeredExrStatus::kInvalidImage:
    return EINVAL;
  case LayeredExrStatus::kTooLarge:
    return EFBIG;
  case LayeredExrStatus::kOutOfMemory:
    return ENOMEM;
  case LayeredExrStatus::kFileError:
    return result.systemError != 0 ? result.systemError : EIO;
  }
  return EIO;
}

int saveLayered(const char *path, int32_t width, int32_t height, const EKExrChannel *channels,
                int32_t channelCount, int32_t compression, const float *worldToCamera,
                const float *worldToNDC) {
  const std::optional<ExrCompression> method = compressionOf(compression);
  if (path == nullptr || channels == nullptr || channelCount < 1 || !method) {
    return EINVAL;
  }
  LayeredExrImage image;
  image.width = width;
  image.height = height;
  image.compression = *method;
  image.chromaticities = ExrChromaticities{};
  image.worldToCamera = matrixOf(worldToCamera);
  image.worldToNDC = matrixOf(worldToNDC);
  image.channels.reserve(static_cast<std::size_t>(channelCount));
  for (int32_t i = 0; i < channelCount; ++i) {
    std::optional<ExrChannel> channel = channelOf(channels[i]);
    if (!channel) {
      return EINVAL;
    }
    image.channels.push_back(std::move(*channel));
  }
  return errorOf(writeLayeredExr(path, image));
}

} // namespace

} // namespace ek::image

extern "C" EK_API int32_t ekSaveLayeredEXR(const char *path, int32_t width, int32_t height,
                                           const EKExrChannel *channels, int32_t channelCount,
                                           int32_t compression, const float *worldToCamera,
                                           const float *worldToNDC) {
  int error = ENOMEM; // the one exception the work can throw: memory ran out
  try {
    error = ek::image::saveLayered(path, width, height, channels, channelCount, compression,
                                   worldToCamera, worldToNDC);
  } catch (...) {
  }
  return ek::image::finishSave(error);
}
