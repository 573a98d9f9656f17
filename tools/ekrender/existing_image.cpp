#include "existing_image.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace ekrender {

namespace {

namespace fs = std::filesystem;

// A PNG file starts with its signature and the IHDR chunk and ends with the empty IEND chunk,
// CRC included, which a writer puts last.
std::string pngProblem(std::ifstream &file, uint64_t size) {
  static const unsigned char kStart[16] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n',
                                           0,    0,   0,   13,  'I',  'H',  'D',  'R'};
  static const unsigned char kEnd[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xae, 0x42, 0x60, 0x82};
  unsigned char start[sizeof kStart] = {}, end[sizeof kEnd] = {};
  if (size < sizeof kStart + 17 + sizeof kEnd || !file.read(reinterpret_cast<char *>(start), 16) ||
      std::memcmp(start, kStart, sizeof kStart) != 0)
    return "it is not a PNG file";
  file.seekg(std::streamoff(size - sizeof kEnd));
  if (!file.read(reinterpret_cast<char *>(end), sizeof end) ||
      std::memcmp(end, kEnd, sizeof kEnd) != 0)
    return "it does not end with the PNG end chunk";
  return std::string();
}

uint32_t littleEndian32(const unsigned char *bytes) {
  return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
         uint32_t(bytes[3]) << 24;
}

uint64_t littleEndian64(const unsigned char *bytes) {
  return uint64_t(littleEndian32(bytes)) | uint64_t(littleEndian32(bytes + 4)) << 32;
}

// Scan lines per block of each compression OpenEXR knows, by its number; 0 for an unknown one.
int linesPerBlock(int compression) {
  static const int kLines[] = {1, 1, 1, 16, 32, 16, 32, 32, 32, 256};
  return compression >= 0 && compression < int(std::size(kLines)) ? kLines[compression] : 0;
}

// What an EXR header says about where the pixel data lies.
struct ExrLayout {
  bool scanLines = true; // false: tiled, deep or several parts, whose blocks are not looked at
  int compression = 0;
  int32_t yMin = 0, yMax = -1;
  uint64_t headerEnd = 0; // where the line offset table starts
};

// A NUL-terminated name of at most 255 characters.
bool readName(std::ifstream &file, std::string &name) {
  name.clear();
  for (char c; file.get(c);) {
    if (c == '\0')
      return true;
    if (name.size() == 255)
      return false;
    name += c;
  }
  return false;
}

std::string readExrHeader(std::ifstream &file, ExrLayout &layout) {
  unsigned char start[8] = {};
  if (!file.read(reinterpret_cast<char *>(start), 8) || littleEndian32(start) != 20000630)
    return "it is not an EXR file";
  const uint32_t flags = littleEndian32(start + 4) & ~0xffu;
  layout.scanLines = flags == 0 || flags == 0x400; // 0x400: long attribute names
  bool window = false;
  for (std::string name, type; readName(file, name);) {
    if (name.empty()) {
      layout.headerEnd = uint64_t(file.tellg());
      if (!window && layout.scanLines)
        return "its header has no data window";
      return std::string();
    }
    unsigned char sizeBytes[4] = {};
    if (!readName(file, type) || !file.read(reinterpret_cast<char *>(sizeBytes), 4))
      break;
    const uint32_t size = littleEndian32(sizeBytes);
    if (size > (uint32_t(1) << 24))
      return "its header is damaged";
    std::vector<unsigned char> value(size);
    if (!file.read(reinterpret_cast<char *>(value.data()), std::streamsize(size)))
      break;
    if (name == "dataWindow" && type == "box2i" && size == 16) {
      layout.yMin = int32_t(littleEndian32(value.data() + 4));
      layout.yMax = int32_t(littleEndian32(value.data() + 12));
      window = true;
    } else if (name == "compression" && size == 1) {
      layout.compression = value[0];
    }
  }
  return "it ends inside its header";
}

// The header, the line offset table after it, and the last block of pixels the table points to
// must all lie within the file.
std::string exrProblem(std::ifstream &file, uint64_t size) {
  ExrLayout layout;
  if (std::string problem = readExrHeader(file, layout); !problem.empty())
    return problem;
  if (!layout.scanLines)
    return std::string();
  const int lines = linesPerBlock(layout.compression);
  if (lines == 0)
    return "its compression is unknown";
  if (layout.yMax < layout.yMin)
    return "its data window is empty";
  const uint64_t blocks = (uint64_t(int64_t(layout.yMax) - layout.yMin) + lines) / uint64_t(lines);
  const uint64_t tableEnd = layout.headerEnd + 8 * blocks;
  if (tableEnd > size)
    return "it ends inside its line offset table";
  std::vector<unsigned char> table(size_t(8 * blocks));
  if (!file.read(reinterpret_cast<char *>(table.data()), std::streamsize(table.size())))
    return "its line offset table cannot be read";
  uint64_t last = 0;
  for (size_t i = 0; i < blocks; ++i) {
    const uint64_t offset = littleEndian64(&table[8 * i]);
    if (offset < tableEnd || offset > size)
      return offset == 0 ? "its line offset table is not filled in" : "it is cut short";
    last = std::max(last, offset);
  }
  // A block starts with its first line's number and the size of its data.
  unsigned char blockHead[8] = {};
  file.seekg(std::streamoff(last));
  if (last + 8 > size || !file.read(reinterpret_cast<char *>(blockHead), 8) ||
      last + 8 + littleEndian32(blockHead + 4) > size)
    return "it ends before its last line block";
  return std::string();
}

} // namespace

std::string incompleteImageReason(const std::string &path, OutputFormat format) {
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (fs::is_directory(status))
    return "it is a folder";
  if (!fs::is_regular_file(status))
    return "it is not a regular file";
  const uint64_t size = fs::file_size(path, error);
  if (error)
    return error.message();
  if (size == 0)
    return "it is empty";
  std::ifstream file(path, std::ios::binary);
  if (!file)
    return "it cannot be read";
  return format == OutputFormat::Exr ? exrProblem(file, size) : pngProblem(file, size);
}

} // namespace ekrender
