// The records of a CSV file as RFC 4180 has them and spreadsheets write them: fields split at a
// separator (',', ';' or a tab), quoted fields ("a, b", "say ""hi""") that hold separators,
// doubled quotes and line ends, and the spaces around a field dropped.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ekrender {

class CsvRecords {
public:
  // Reads `text` from `position` on, whose first line is line `firstLine`.
  CsvRecords(std::string_view text, size_t position, size_t firstLine, char separator);

  // The next record, skipping blank lines; false at the end of the text, or when the record is
  // malformed (then `error` says why, after "LINE: ").
  bool next(std::vector<std::string> &fields, std::string &error);

  // The line the record last returned starts on.
  size_t line() const { return recordLine_; }
  // Where the record after it starts.
  size_t position() const { return position_; }

private:
  bool skipBlankLine();
  bool readQuoted(std::string &field, size_t column, std::string &error);
  void endLine();

  std::string_view text_;
  size_t position_;
  size_t line_;
  size_t recordLine_ = 0;
  char separator_;
};

} // namespace ekrender
