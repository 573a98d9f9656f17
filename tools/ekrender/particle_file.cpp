#include "particle_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>
#include <string_view>

#include "column_names.h"
#include "csv_records.h"
#include "text_lines.h"
#include "vdb_points.h"

namespace ekrender {

namespace {

// Where each particle attribute sits among a record's values; -1 when the file lacks it.
struct Columns {
  int position[3] = {-1, -1, -1};
  int color[4] = {-1, -1, -1, -1};
  int velocity[3] = {-1, -1, -1};
  bool colorIsUnit[4] = {false, false, false, false}; // 0..1 floats rather than 0..255

  bool hasColor() const { return color[0] >= 0 || color[1] >= 0 || color[2] >= 0 || color[3] >= 0; }
  bool hasVelocity() const { return velocity[0] >= 0 || velocity[1] >= 0 || velocity[2] >= 0; }
};

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

// The slot of `columns` that holds the column of `role`; null for a column that is not used.
int *slotOf(Columns &columns, const ColumnRole &role) {
  switch (role.attribute) {
  case Attribute::Position:
    return &columns.position[role.component];
  case Attribute::Velocity:
    return &columns.velocity[role.component];
  case Attribute::Color:
    return &columns.color[role.component];
  case Attribute::None:
    break;
  }
  return nullptr;
}

// Assigns the named columns to their attributes; unknown names are ignored. When two columns give
// the same value, `clash` says which ("\"x\" and \"Points:0\" (KIND 1 and 4) both give position
// x") and the first of them is kept.
Columns mapColumns(const std::vector<std::string> &names, const std::vector<bool> &unitColor,
                   const char *kind, std::string &clash) {
  Columns columns;
  clash.clear();
  for (size_t k = 0; k < names.size(); ++k) {
    const ColumnRole role = columnRole(names[k]);
    int *slot = slotOf(columns, role);
    if (!slot)
      continue;
    if (*slot >= 0) {
      if (clash.empty())
        clash = "\"" + names[size_t(*slot)] + "\" and \"" + names[k] + "\" (" + kind + " " +
                std::to_string(*slot + 1) + " and " + std::to_string(k + 1) + ") both give " +
                roleName(role);
      continue;
    }
    *slot = int(k);
    if (role.attribute == Attribute::Color)
      columns.colorIsUnit[role.component] = unitColor[k];
  }
  return columns;
}

bool hasPositions(const Columns &columns) {
  return columns.position[0] >= 0 && columns.position[1] >= 0 && columns.position[2] >= 0;
}

// "position from x,y,z; colour (0..1) from RGB:0,RGB:1,RGB:2": the columns that were used.
std::string describeColumns(const Columns &columns, const std::vector<std::string> &names) {
  auto list = [&names](const int *indices, int count) {
    std::string text;
    for (int k = 0; k < count; ++k)
      if (indices[k] >= 0)
        text += (text.empty() ? "" : ",") + names[size_t(indices[k])];
    return text;
  };
  std::string text = "position from " + list(columns.position, 3);
  int shown = 0; // the range of the first colour channel present speaks for them
  while (shown < 3 && columns.color[shown] < 0)
    ++shown;
  if (columns.hasColor())
    text += std::string("; colour (") + (columns.colorIsUnit[shown] ? "0..1" : "0..255") +
            ") from " + list(columns.color, 4);
  if (columns.hasVelocity())
    text += "; velocity from " + list(columns.velocity, 3);
  return text;
}

bool checkPositions(const Columns &columns, const std::string &name, std::string &error) {
  if (hasPositions(columns))
    return true;
  error = name + ": the particles need x, y and z columns";
  return false;
}

uint8_t colorByte(double v, bool unit) {
  const double scaled = unit ? v * 255.0 + 0.5 : v + 0.5;
  if (!(scaled > 0.0))
    return 0;
  return scaled >= 255.0 ? 255 : uint8_t(scaled);
}

void storeParticle(const Columns &c, const double *values, ParticleData &out) {
  out.positions.push_back(
      {float(values[c.position[0]]), float(values[c.position[1]]), float(values[c.position[2]])});
  if (c.hasColor())
    for (int k = 0; k < 4; ++k)
      out.colors.push_back(c.color[k] >= 0 ? colorByte(values[c.color[k]], c.colorIsUnit[k]) : 255);
  if (c.hasVelocity()) {
    auto component = [&](int k) {
      return c.velocity[k] >= 0 ? float(values[c.velocity[k]]) : 0.0f;
    };
    out.velocities.push_back({component(0), component(1), component(2)});
  }
}

// Parses a decimal number occupying the whole of `token`. With `decimalComma`, a comma in place of
// the point is read as one ("1,5", as spreadsheets write numbers in many languages).
bool parseNumber(const std::string &token, double &value, bool decimalComma = false) {
  if (token.empty())
    return false;
  const size_t comma = token.find(',');
  if (decimalComma && comma != std::string::npos && token.find('.') == std::string::npos) {
    std::string pointed = token;
    pointed[comma] = '.';
    return parseNumber(pointed, value);
  }
  char *end = nullptr;
  value = std::strtod(token.c_str(), &end);
  return end == token.c_str() + token.size();
}

// An element count: decimal digits only, at most 2^64 - 1. Counts such as "1e3", "inf" or "2.5"
// are refused rather than rounded.
bool parseCount(const std::string &token, uint64_t &value) {
  if (token.empty())
    return false;
  uint64_t parsed = 0;
  for (const char c : token) {
    if (c < '0' || c > '9')
      return false;
    const uint64_t digit = uint64_t(c - '0');
    if (parsed > (UINT64_MAX - digit) / 10)
      return false;
    parsed = parsed * 10 + digit;
  }
  value = parsed;
  return true;
}

std::vector<std::string> splitWhitespace(std::string_view line) {
  std::istringstream stream{std::string(line)};
  std::vector<std::string> tokens;
  std::string token;
  while (stream >> token)
    tokens.push_back(token);
  return tokens;
}

// ---- PLY -------------------------------------------------------------------------------------

struct PlyProperty {
  std::string name;
  std::string type;
  bool isList = false;
};

struct PlyElement {
  std::string name;
  uint64_t count = 0;
  std::vector<PlyProperty> properties;
};

int plyTypeSize(const std::string &type) {
  static const std::pair<const char *, int> sizes[] = {
      {"char", 1},   {"int8", 1},    {"uchar", 1},  {"uint8", 1},  {"short", 2}, {"int16", 2},
      {"ushort", 2}, {"uint16", 2},  {"int", 4},    {"int32", 4},  {"uint", 4},  {"uint32", 4},
      {"float", 4},  {"float32", 4}, {"double", 8}, {"float64", 8}};
  for (const auto &[name, size] : sizes)
    if (type == name)
      return size;
  return 0;
}

bool plyTypeIsFloat(const std::string &type) {
  return type == "float" || type == "float32" || type == "double" || type == "float64";
}

// A binary property's type, resolved once from its name so that reading a value is a switch.
enum class PlyType { Int8, Uint8, Int16, Uint16, Int32, Uint32, Float32, Float64 };

PlyType plyType(const std::string &type) {
  if (type == "char" || type == "int8")
    return PlyType::Int8;
  if (type == "uchar" || type == "uint8")
    return PlyType::Uint8;
  if (type == "short" || type == "int16")
    return PlyType::Int16;
  if (type == "ushort" || type == "uint16")
    return PlyType::Uint16;
  if (type == "int" || type == "int32")
    return PlyType::Int32;
  if (type == "uint" || type == "uint32")
    return PlyType::Uint32;
  if (type == "float" || type == "float32")
    return PlyType::Float32;
  return PlyType::Float64;
}

template <typename T> double load(const unsigned char *p) {
  T value;
  std::memcpy(&value, p, sizeof value);
  return double(value);
}

double readBinaryValue(const unsigned char *p, PlyType type) {
  switch (type) {
  case PlyType::Int8:
    return load<int8_t>(p);
  case PlyType::Uint8:
    return load<uint8_t>(p);
  case PlyType::Int16:
    return load<int16_t>(p);
  case PlyType::Uint16:
    return load<uint16_t>(p);
  case PlyType::Int32:
    return load<int32_t>(p);
  case PlyType::Uint32:
    return load<uint32_t>(p);
  case PlyType::Float32:
    return load<float>(p);
  case PlyType::Float64:
    break;
  }
  return load<double>(p);
}

struct PlyHeader {
  bool binary = false;
  std::vector<PlyElement> elements;
  size_t dataStart = 0; // byte offset of the first element's data
  size_t headerLines = 0;
};

bool parsePlyHeader(const std::string &bytes, const std::string &name, PlyHeader &header,
                    std::string &error) {
  size_t position = 0;
  size_t lineNumber = 0;
  bool sawFormat = false;
  for (;;) {
    // The header ends within its first kMaxTextLine bytes, so that it is found or refused at
    // once however long the file.
    const size_t end = bytes.find('\n', position);
    const size_t lineEnd = std::min({end, bytes.size(), kMaxTextLine});
    ++lineNumber;
    const std::string where = name + ":" + std::to_string(lineNumber) + ": ";
    if (std::string_view(bytes).substr(position, lineEnd - position).find('\0') !=
        std::string_view::npos) {
      error = where + "a NUL byte in the PLY header (not a PLY file, or a damaged one)";
      return false;
    }
    if (end == std::string::npos && bytes.size() <= kMaxTextLine) {
      error = name + ": the PLY header has no end_header line";
      return false;
    }
    if (end == std::string::npos || end >= kMaxTextLine) {
      error = name + ": the PLY header runs past " + std::to_string(kMaxTextLine >> 20) +
              " MiB without an end_header line";
      return false;
    }
    std::string line = bytes.substr(position, end - position);
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    position = end + 1;
    const std::vector<std::string> words = splitWhitespace(line);
    if (lineNumber == 1) {
      if (words.size() != 1 || words[0] != "ply") {
        error = where + "not a PLY file (the first line must be \"ply\")";
        return false;
      }
      continue;
    }
    if (words.empty() || words[0] == "comment" || words[0] == "obj_info")
      continue;
    if (words[0] == "end_header")
      break;
    if (words[0] == "format") {
      if (words.size() < 2 || (words[1] != "ascii" && words[1] != "binary_little_endian")) {
        error = where + "unsupported PLY format (ascii and binary_little_endian are read)";
        return false;
      }
      header.binary = words[1] == "binary_little_endian";
      sawFormat = true;
    } else if (words[0] == "element") {
      uint64_t count = 0;
      if (words.size() != 3 || !parseCount(words[2], count)) {
        error = where + "malformed element line";
        return false;
      }
      header.elements.push_back({words[1], count, {}});
    } else if (words[0] == "property") {
      if (header.elements.empty()) {
        error = where + "property before any element";
        return false;
      }
      PlyProperty property;
      if (words.size() == 5 && words[1] == "list") {
        property = {words[4], words[3], true};
        if (!plyTypeSize(words[2]) || !plyTypeSize(words[3])) {
          error = where + "unknown property type";
          return false;
        }
      } else if (words.size() == 3 && plyTypeSize(words[1])) {
        property = {words[2], words[1], false};
      } else {
        error = where + "malformed property line";
        return false;
      }
      header.elements.back().properties.push_back(property);
    } else {
      error = where + "unexpected header line \"" + line + "\"";
      return false;
    }
  }
  if (!sawFormat) {
    error = name + ": the PLY header has no format line";
    return false;
  }
  header.dataStart = position;
  header.headerLines = lineNumber;
  return true;
}

bool readPlyAscii(const std::string &bytes, const std::string &name, const PlyHeader &header,
                  const PlyElement &vertex, size_t vertexIndex, const Columns &columns,
                  ParticleData &out, std::string &error) {
  size_t position = header.dataStart;
  size_t lineNumber = header.headerLines;
  std::string_view line;
  // Elements before the vertices: one line per item.
  for (size_t e = 0; e < vertexIndex; ++e)
    for (uint64_t i = 0; i < header.elements[e].count; ++i, ++lineNumber)
      if (!nextLine(bytes, position, line)) {
        error = name + ": file ends inside element \"" + header.elements[e].name + "\"";
        return false;
      }
  std::vector<double> values(vertex.properties.size());
  for (uint64_t i = 0; i < vertex.count; ++i) {
    ++lineNumber;
    const std::string where = name + ":" + std::to_string(lineNumber) + ": ";
    if (!nextLine(bytes, position, line)) {
      error = where + "file ends after " + std::to_string(i) + " of " +
              std::to_string(vertex.count) + " vertices";
      return false;
    }
    if (const std::string problem = lineProblem(line); !problem.empty()) {
      error = where + problem;
      return false;
    }
    const std::vector<std::string> tokens = splitWhitespace(line);
    if (tokens.size() != values.size()) {
      error = where + "expected " + std::to_string(values.size()) + " values, found " +
              std::to_string(tokens.size());
      return false;
    }
    for (size_t k = 0; k < tokens.size(); ++k)
      if (!parseNumber(tokens[k], values[k])) {
        error = where + "\"" + tokens[k] + "\" is not a number";
        return false;
      }
    storeParticle(columns, values.data(), out);
  }
  return true;
}

uint64_t fixedRecordSize(const PlyElement &element) {
  uint64_t size = 0;
  for (const PlyProperty &p : element.properties)
    size += uint64_t(plyTypeSize(p.type));
  return size;
}

bool readPlyBinary(const std::string &bytes, const std::string &name, const PlyHeader &header,
                   const PlyElement &vertex, size_t vertexIndex, const Columns &columns,
                   ParticleData &out, std::string &error) {
  uint64_t offset = header.dataStart;
  for (size_t e = 0; e < vertexIndex; ++e) {
    const PlyElement &skipped = header.elements[e];
    for (const PlyProperty &p : skipped.properties)
      if (p.isList) {
        error = name + ": element \"" + skipped.name +
                "\" with list properties before the vertices is not supported";
        return false;
      }
    // The element must lie within the file; its size is checked before it is multiplied, so
    // that no count wraps the offset around to the header.
    const uint64_t recordSize = fixedRecordSize(skipped);
    const uint64_t left = bytes.size() - std::min<uint64_t>(offset, bytes.size());
    if (recordSize != 0 && skipped.count > left / recordSize) {
      error = name + ": byte " + std::to_string(offset + left / recordSize * recordSize) +
              ": file ends inside element \"" + skipped.name + "\"";
      return false;
    }
    offset += recordSize * skipped.count;
  }
  const uint64_t stride = fixedRecordSize(vertex);
  const uint64_t available = bytes.size() > offset ? bytes.size() - offset : 0;
  if (stride == 0 || available / stride < vertex.count) {
    const uint64_t complete = stride ? available / stride : 0;
    error = name + ": byte " + std::to_string(offset + complete * stride) +
            ": file ends inside vertex " + std::to_string(complete) + " of " +
            std::to_string(vertex.count);
    return false;
  }
  // Where each used value sits in a record and how it is stored: only those are decoded, and the
  // common storage (float coordinates, byte colours) is copied without a conversion.
  struct Field {
    int64_t offset = -1; // -1: the file lacks it
    PlyType type = PlyType::Float32;
    bool unit = false; // a 0..1 colour
  };
  std::vector<uint64_t> offsets(vertex.properties.size());
  for (size_t k = 1; k < offsets.size(); ++k)
    offsets[k] = offsets[k - 1] + uint64_t(plyTypeSize(vertex.properties[k - 1].type));
  auto field = [&](int column, bool unit = false) {
    return column < 0 ? Field{}
                      : Field{int64_t(offsets[size_t(column)]),
                              plyType(vertex.properties[size_t(column)].type), unit};
  };
  const Field position[3] = {field(columns.position[0]), field(columns.position[1]),
                             field(columns.position[2])};
  const Field velocity[3] = {field(columns.velocity[0]), field(columns.velocity[1]),
                             field(columns.velocity[2])};
  Field color[4];
  for (int k = 0; k < 4; ++k)
    color[k] = field(columns.color[k], columns.colorIsUnit[k]);
  auto number = [](const unsigned char *record, const Field &f) {
    if (f.offset < 0)
      return 0.0f;
    if (f.type == PlyType::Float32) {
      float v;
      std::memcpy(&v, record + f.offset, sizeof v);
      return v;
    }
    return float(readBinaryValue(record + f.offset, f.type));
  };
  auto colorOf = [](const unsigned char *record, const Field &f) -> uint8_t {
    if (f.offset < 0)
      return 255;
    if (f.type == PlyType::Uint8 && !f.unit)
      return record[f.offset];
    return colorByte(readBinaryValue(record + f.offset, f.type), f.unit);
  };

  const auto *data = reinterpret_cast<const unsigned char *>(bytes.data()) + offset;
  const size_t count = size_t(vertex.count);
  const bool hasColor = columns.hasColor(), hasVelocity = columns.hasVelocity();
  out.positions.resize(count);
  if (hasColor)
    out.colors.resize(count * 4);
  if (hasVelocity)
    out.velocities.resize(count);
  for (size_t i = 0; i < count; ++i, data += stride) {
    out.positions[i] = {number(data, position[0]), number(data, position[1]),
                        number(data, position[2])};
    if (hasColor)
      for (int k = 0; k < 4; ++k)
        out.colors[4 * i + size_t(k)] = colorOf(data, color[k]);
    if (hasVelocity)
      out.velocities[i] = {number(data, velocity[0]), number(data, velocity[1]),
                           number(data, velocity[2])};
  }
  return true;
}

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

// Where a CSV file's text starts: after a UTF-8 byte-order mark, as spreadsheet programs write one.
size_t csvStart(const std::string &text) {
  return text.rfind(kByteOrderMark, 0) == 0 ? sizeof kByteOrderMark - 1 : 0;
}

// A CSV header row split at one separator, and the columns it names.
struct CsvHeader {
  char separator = ',';
  std::vector<std::string> names;
  Columns columns;
  std::string clash; // two columns that give the same value
  size_t line = 0;
  size_t dataStart = 0; // where the rows start
};

// Reads the header row with the first separator (',', ';', tab) whose split names x, y and z
// columns; with none, as comma-separated.
bool readCsvHeader(const std::string &text, const std::string &name, CsvHeader &header,
                   std::string &error) {
  std::string commaError;
  for (const char separator : {',', ';', '\t'}) {
    CsvRecords records(text, csvStart(text), 1, separator);
    CsvHeader candidate;
    candidate.separator = separator;
    if (!records.next(candidate.names, error)) {
      if (error.empty()) {
        error = name + ": the CSV file is empty (a header row such as x,y,z is needed)";
        return false;
      }
      if (separator == ',')
        commaError = name + ":" + error;
      continue;
    }
    // A separator that ends the header row ends it; it starts no unnamed column.
    if (candidate.names.size() > 1 && candidate.names.back().empty())
      candidate.names.pop_back();
    candidate.columns = mapColumns(candidate.names, std::vector<bool>(candidate.names.size()),
                                   "columns", candidate.clash);
    candidate.line = records.line();
    candidate.dataStart = records.position();
    if (separator == ',' || hasPositions(candidate.columns))
      header = candidate;
    if (hasPositions(candidate.columns))
      return true;
  }
  error = commaError;
  return commaError.empty();
}

} // namespace

bool parsePly(const std::string &bytes, const std::string &name, ParticleData &out,
              std::string &error) {
  out = {};
  PlyHeader header;
  if (!parsePlyHeader(bytes, name, header, error))
    return false;
  size_t vertexIndex = header.elements.size();
  for (size_t e = 0; e < header.elements.size(); ++e)
    if (header.elements[e].name == "vertex") {
      vertexIndex = e;
      break;
    }
  if (vertexIndex == header.elements.size()) {
    error = name + ": the PLY file has no vertex element";
    return false;
  }
  const PlyElement &vertex = header.elements[vertexIndex];
  std::vector<std::string> names;
  std::vector<bool> floats;
  for (const PlyProperty &property : vertex.properties) {
    if (property.isList) {
      error = name + ": list property \"" + property.name + "\" in the vertices";
      return false;
    }
    names.push_back(property.name);
    floats.push_back(plyTypeIsFloat(property.type));
  }
  std::string clash;
  const Columns columns = mapColumns(names, floats, "properties", clash);
  if (!clash.empty()) {
    error = name + ": " + clash;
    return false;
  }
  if (!checkPositions(columns, name, error))
    return false;
  out.columns = describeColumns(columns, names);
  return header.binary
             ? readPlyBinary(bytes, name, header, vertex, vertexIndex, columns, out, error)
             : readPlyAscii(bytes, name, header, vertex, vertexIndex, columns, out, error);
}

bool parseCsv(const std::string &text, const std::string &name, ParticleData &out,
              std::string &error) {
  out = {};
  if (!checkTextLines(text, csvStart(text), 1, name, error))
    return false;
  CsvHeader header;
  if (!readCsvHeader(text, name, header, error))
    return false;
  const std::string headerLine = name + ":" + std::to_string(header.line);
  if (!checkPositions(header.columns, headerLine, error))
    return false;
  if (!header.clash.empty()) {
    error = headerLine + ": " + header.clash;
    return false;
  }
  Columns &columns = header.columns;
  // Only the columns read are numbers; the others (names, notes) may hold any text.
  std::vector<size_t> used;
  for (size_t k = 0; k < header.names.size(); ++k)
    if (columnRole(header.names[k]).attribute != Attribute::None)
      used.push_back(k);
  const bool decimalComma = header.separator != ',';
  CsvRecords records(text, header.dataStart, header.line + 1, header.separator);
  std::vector<std::string> fields;
  std::vector<double> values(header.names.size()), rows;
  double brightest = 0;
  while (records.next(fields, error)) {
    const std::string where = name + ":" + std::to_string(records.line()) + ": ";
    // So does a separator that ends a row after its last value.
    if (fields.size() == header.names.size() + 1 && fields.back().empty())
      fields.pop_back();
    if (fields.size() != header.names.size()) {
      error = where + "expected " + std::to_string(header.names.size()) + " values, found " +
              std::to_string(fields.size());
      return false;
    }
    for (const size_t k : used)
      if (!parseNumber(fields[k], values[k], decimalComma)) {
        error =
            where + "\"" + fields[k] + "\" in column \"" + header.names[k] + "\" is not a number";
        return false;
      }
    for (int k = 0; k < 4; ++k)
      if (columns.color[k] >= 0)
        brightest = std::max(brightest, values[size_t(columns.color[k])]);
    rows.insert(rows.end(), values.begin(), values.end());
  }
  if (!error.empty()) {
    error = name + ":" + error;
    return false;
  }
  // Colours are 0..1 floats when none exceeds 1, else 0..255.
  std::fill(std::begin(columns.colorIsUnit), std::end(columns.colorIsUnit), brightest <= 1.0);
  for (size_t row = 0; row < rows.size(); row += header.names.size())
    storeParticle(columns, rows.data() + row, out);
  out.columns = describeColumns(columns, header.names);
  return true;
}

namespace {

// What a file that is not a regular one is, for messages.
std::string kindOf(std::filesystem::file_type type) {
  switch (type) {
  case std::filesystem::file_type::character:
    return "a character device";
  case std::filesystem::file_type::block:
    return "a block device";
  case std::filesystem::file_type::fifo:
    return "a pipe";
  case std::filesystem::file_type::socket:
    return "a socket";
  default:
    return "a special file";
  }
}

// Refuses a text file from its first bytes, before the rest is read: a file of zeros or of binary
// data is refused at once however large it is. `head` is at least the first kMaxTextLine + 1 bytes
// of the file, or all of it.
bool checkHead(const std::string &extension, const std::string &head, const std::string &path,
               std::string &error) {
  if (extension == "ply") {
    PlyHeader header;
    return parsePlyHeader(head, path, header, error);
  }
  if (extension == "csv")
    return checkTextLines(head, csvStart(head), 1, path, error);
  return true;
}

bool readRegularFile(const std::string &path, const std::filesystem::path &native,
                     const std::string &extension, ParticleData &out, std::string &error) {
  errno = 0;
  std::ifstream file(native, std::ios::binary);
  if (!file) {
    error = path + ": cannot open the file" +
            (errno != 0 ? std::string(" (") + std::strerror(errno) + ")" : std::string());
    return false;
  }
  file.seekg(0, std::ios::end);
  const size_t size = size_t(std::max<std::streamoff>(file.tellg(), 0));
  file.seekg(0, std::ios::beg);
  // The head first, then the rest onto it, into the one string the parsers work on.
  std::string contents(std::min(size, kMaxTextLine + 1), '\0');
  file.read(contents.data(), std::streamsize(contents.size()));
  contents.resize(size_t(file.gcount()));
  if (!checkHead(extension, contents, path, error))
    return false;
  if (size > contents.size() && file) {
    const size_t headSize = contents.size();
    contents.resize(size);
    file.read(contents.data() + headSize, std::streamsize(size - headSize));
    contents.resize(headSize + size_t(file.gcount()));
  }
  if (extension == "ply")
    return parsePly(contents, path, out, error);
  if (extension == "csv")
    return parseCsv(contents, path, out, error);
  error = path + ": unknown particle file type (use .ply, .csv or .vdb)";
  return false;
}

} // namespace

bool readParticleFile(const std::string &path, ParticleData &out, std::string &error) {
  // The path is UTF-8, which a std::string path means only on POSIX systems.
  const std::filesystem::path native(std::u8string(path.begin(), path.end()));
  std::error_code ignored;
  const std::filesystem::file_status status = std::filesystem::status(native, ignored);
  if (std::filesystem::is_directory(status)) {
    error = path + ": is a folder, not a particle file";
    return false;
  }
  // A device or a pipe may never end (/dev/zero): only files are read.
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    error = path + ": is not a regular file (" + kindOf(status.type()) + "), not a particle file";
    return false;
  }
  const std::string extension = lower(path.substr(path.find_last_of('.') + 1));
  try {
    if (extension == "vdb" && std::filesystem::exists(status))
      return readVdbPoints(path, out, error);
    return readRegularFile(path, native, extension, out, error);
  } catch (const std::bad_alloc &) {
    out = {};
    const uintmax_t size = std::filesystem::file_size(native, ignored);
    error = path + ": out of host memory while reading the file (" +
            (ignored ? std::string("size unknown") : std::to_string(size) + " bytes") + ")";
    return false;
  }
}

} // namespace ekrender
