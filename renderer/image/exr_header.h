// Pieces of an OpenEXR file's header, shared by the RGBA writer and the layered writer.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "image/byte_writer.h"

namespace ek::image {

constexpr uint8_t kExrMagic[4] = {0x76, 0x2F, 0x31, 0x01};
// Version 2, single part, scan lines; the flag allows attribute and channel names of up to 255
// bytes instead of 31.
constexpr uint32_t kExrVersion = 2;
constexpr uint32_t kExrLongNamesFlag = 0x400;
constexpr std::size_t kExrMaxShortName = 31;
constexpr std::size_t kExrMaxName = 255;

// Sample types of a channel, as the file stores them.
constexpr int32_t kExrPixelTypeHalf = 1;
constexpr int32_t kExrPixelTypeFloat = 2;

// Compression methods, as the file stores them, and the scan lines each compressed block holds.
constexpr uint8_t kExrNoCompression = 0;
constexpr uint8_t kExrZipCompression = 3;
constexpr int32_t kExrZipLinesPerBlock = 16;

// Line number and data size (i32 each) in front of every scan line block.
constexpr std::size_t kExrBlockPrefix = 8;

void storeU32le(uint8_t *out, uint32_t value);

// Appends one attribute: name, type name, value size and the value bytes.
void appendExrAttribute(ByteWriter &out, std::string_view name, std::string_view type,
                        const std::vector<uint8_t> &value);

// One entry of the channel list: a name and its sample type, sampled at every pixel.
struct ExrChannelEntry {
  std::string_view name;
  int32_t pixelType;
};

// The "channels" attribute's value; the entries must already be in the file's order (names
// sorted by their bytes).
std::vector<uint8_t> exrChannelList(const std::vector<ExrChannelEntry> &channels);

// The attributes every scan-line file needs besides "channels": compression, data and display
// window (both 0,0 to width-1,height-1), increasing line order, square pixels and the default
// screen window.
void appendExrImageAttributes(ByteWriter &out, int32_t width, int32_t height, uint8_t compression);

} // namespace ek::image
