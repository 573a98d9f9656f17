#include "image/layered_exr_layout.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <string_view>

#include "image/exr_header.h"

namespace ek::image {

namespace {

// Largest block data size and attribute size: both are stored as signed 32-bit numbers.
constexpr uint64_t kMaxStoredSize = static_cast<uint64_t>(std::numeric_limits<int32_t>::max());
// Bytes of one channel list entry besides its name: terminator, type, pLinear and reserved
// bytes, x and y sampling.
constexpr uint64_t kChannelEntryBytes = 1 + 4 + 4 + 4 + 4;
// Uncompressed scan lines are written in pieces of about this size: each write costs the system
// a few microseconds, and a piece must not take much memory per thread.
constexpr std::size_t kPieceBytes = std::size_t{1} << 20;

LayeredExrResult failure(LayeredExrStatus status, std::string message) {
  return {status, 0, std::move(message)};
}

// a × b when it does not exceed `limit`.
bool productWithin(uint64_t a, uint64_t b, uint64_t limit, uint64_t &product) {
  if (a != 0 && b > limit / a) {
    return false;
  }
  product = a * b;
  return product <= limit;
}

// Quoted for messages, with bytes outside printable ASCII as \xNN.
std::string quoted(std::string_view name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string text = "\"";
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      text += c;
    } else {
      text += "\\x";
      text += kHex[byte >> 4];
      text += kHex[byte & 15];
    }
  }
  return text + "\"";
}

LayeredExrResult checkName(const std::string &name, std::size_t index) {
  if (name.empty()) {
    return failure(LayeredExrStatus::kInvalidImage,
                   "channel " + std::to_string(index) + " has an empty name");
  }
  if (name.find('\0') != std::string::npos) {
    return failure(LayeredExrStatus::kInvalidImage,
                   "channel name " + quoted(name) + " contains a NUL byte");
  }
  if (name.size() > kExrMaxName) {
    return failure(LayeredExrStatus::kInvalidImage, "channel name " + quoted(name.substr(0, 40)) +
                                                        "... is " + std::to_string(name.size()) +
                                                        " bytes long; OpenEXR allows at most " +
                                                        std::to_string(kExrMaxName));
  }
  return {};
}

// The offset of the last pixel from the first, in floats, must be addressable.
bool stridesAddressable(const ExrChannel &channel, uint64_t width, uint64_t height) {
  constexpr uint64_t kMaxOffset = std::numeric_limits<std::ptrdiff_t>::max() / sizeof(float);
  uint64_t lastRow = 0;
  uint64_t lastColumn = 0;
  return productWithin(height - 1, channel.rowStride, kMaxOffset, lastRow) &&
         productWithin(width - 1, channel.pixelStride, kMaxOffset, lastColumn) &&
         lastRow <= kMaxOffset - lastColumn;
}

} // namespace

LayeredExrResult layOutLayeredExr(const LayeredExrImage &image, LayeredExrLayout &layout) {
  if (image.width < 1 || image.height < 1) {
    return failure(LayeredExrStatus::kInvalidImage, "image size " + std::to_string(image.width) +
                                                        " x " + std::to_string(image.height) +
                                                        ": width and height must be at least 1");
  }
  if (image.channels.empty()) {
    return failure(LayeredExrStatus::kInvalidImage, "the image has no channels");
  }
  const uint64_t width = static_cast<uint64_t>(image.width);
  const uint64_t height = static_cast<uint64_t>(image.height);
  layout = {};
  layout.width = static_cast<std::size_t>(width);
  layout.height = static_cast<std::size_t>(height);

  std::set<std::string_view> names;
  uint64_t listBytes = 1;  // the channel list's terminator
  uint64_t pixelBytes = 0; // of one pixel, all channels
  for (std::size_t i = 0; i < image.channels.size(); ++i) {
    const ExrChannel &channel = image.channels[i];
    if (LayeredExrResult bad = checkName(channel.name, i); !bad.ok()) {
      return bad;
    }
    if (!names.insert(channel.name).second) {
      return failure(LayeredExrStatus::kInvalidImage,
                     "channel name " + quoted(channel.name) + " is given more than once");
    }
    if (channel.pixels == nullptr) {
      return failure(LayeredExrStatus::kInvalidImage,
                     "channel " + quoted(channel.name) + " has no pixel data");
    }
    ExrChannel stored = channel;
    if (stored.rowStride == 0) {
      // Rows packed one after another; a product beyond the address space fails the check below.
      uint64_t packed = 0;
      stored.rowStride =
          productWithin(width, stored.pixelStride, std::numeric_limits<std::size_t>::max(), packed)
              ? static_cast<std::size_t>(packed)
              : std::numeric_limits<std::size_t>::max();
    }
    if (!stridesAddressable(stored, width, height)) {
      return failure(LayeredExrStatus::kTooLarge, "channel " + quoted(channel.name) +
                                                      ": its strides reach past the address "
                                                      "space for a " +
                                                      std::to_string(width) + " x " +
                                                      std::to_string(height) + " image");
    }
    layout.longNames = layout.longNames || channel.name.size() > kExrMaxShortName;
    listBytes += channel.name.size() + kChannelEntryBytes;
    pixelBytes += sampleBytes(channel.type);
    layout.channels.push_back(std::move(stored));
  }
  if (listBytes > kMaxStoredSize) {
    return failure(LayeredExrStatus::kTooLarge,
                   std::to_string(image.channels.size()) +
                       " channels: their list exceeds OpenEXR's attribute size limit");
  }
  std::sort(layout.channels.begin(), layout.channels.end(),
            [](const ExrChannel &a, const ExrChannel &b) { return a.name < b.name; });

  layout.compression = image.compression;
  layout.linesPerBlock = image.compression == ExrCompression::kZip
                             ? static_cast<std::size_t>(kExrZipLinesPerBlock)
                             : 1;
  const std::size_t blockLines = std::min(layout.linesPerBlock, layout.height);
  uint64_t lineBytes = 0;
  uint64_t blockBytes = 0;
  if (!productWithin(width, pixelBytes, kMaxStoredSize, lineBytes) ||
      !productWithin(lineBytes, blockLines, kMaxStoredSize, blockBytes)) {
    return failure(LayeredExrStatus::kTooLarge,
                   "a block of " + std::to_string(blockLines) + " line(s) of " +
                       std::to_string(width) + " pixels with " + std::to_string(pixelBytes) +
                       " bytes each exceeds OpenEXR's block size limit of " +
                       std::to_string(kMaxStoredSize) + " bytes");
  }
  layout.lineBytes = static_cast<std::size_t>(lineBytes);
  layout.blockCount = (layout.height + layout.linesPerBlock - 1) / layout.linesPerBlock;
  layout.linesPerPiece =
      image.compression == ExrCompression::kZip
          ? layout.linesPerBlock
          : std::clamp<std::size_t>(kPieceBytes / (kExrBlockPrefix + layout.lineBytes), 1,
                                    kExrZipLinesPerBlock);
  return {};
}

} // namespace ek::image
