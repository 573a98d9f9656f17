#include "csv_records.h"

namespace ekrender {

CsvRecords::CsvRecords(std::string_view text, size_t position, size_t firstLine, char separator)
    : text_(text), position_(position), line_(firstLine), separator_(separator) {}

// Steps over the line end at the current position.
void CsvRecords::endLine() {
  const bool crlf =
      text_[position_] == '\r' && position_ + 1 < text_.size() && text_[position_ + 1] == '\n';
  position_ += crlf ? 2 : 1;
  ++line_;
}

// Steps over the line at the current position when it holds nothing but spaces and tabs.
bool CsvRecords::skipBlankLine() {
  size_t end = position_;
  while (end < text_.size() && (text_[end] == ' ' || text_[end] == '\t'))
    ++end;
  if (end < text_.size() && text_[end] != '\r' && text_[end] != '\n')
    return false;
  position_ = end;
  if (position_ < text_.size())
    endLine();
  return true;
}

// The quoted field starting at the current position, up to its closing quote.
bool CsvRecords::readQuoted(std::string &field, size_t column, std::string &error) {
  const size_t opened = line_;
  ++position_;
  for (;;) {
    if (position_ >= text_.size()) {
      error = std::to_string(opened) + ": the quote that opens column " + std::to_string(column) +
              " is never closed";
      return false;
    }
    const char c = text_[position_++];
    if (c == '"') {
      if (position_ >= text_.size() || text_[position_] != '"')
        return true;
      ++position_; // a doubled quote is one quote
    } else if (c == '\n' ||
               (c == '\r' && (position_ >= text_.size() || text_[position_] != '\n'))) {
      ++line_;
    }
    field += c;
  }
}

bool CsvRecords::next(std::vector<std::string> &fields, std::string &error) {
  error.clear();
  while (position_ < text_.size() && skipBlankLine()) {
  }
  if (position_ >= text_.size())
    return false;
  recordLine_ = line_;
  fields.clear();
  auto isSpace = [this](char c) { return c == ' ' || (c == '\t' && separator_ != '\t'); };
  auto endsField = [this](size_t at) {
    return at >= text_.size() || text_[at] == separator_ || text_[at] == '\r' || text_[at] == '\n';
  };
  for (;;) {
    while (position_ < text_.size() && isSpace(text_[position_]))
      ++position_;
    std::string &field = fields.emplace_back();
    if (position_ < text_.size() && text_[position_] == '"') {
      if (!readQuoted(field, fields.size(), error))
        return false;
      while (position_ < text_.size() && isSpace(text_[position_]))
        ++position_;
      if (!endsField(position_)) {
        error = std::to_string(line_) + ": column " + std::to_string(fields.size()) +
                " has text after its closing quote";
        return false;
      }
    } else {
      const size_t start = position_;
      while (!endsField(position_))
        ++position_;
      size_t end = position_;
      while (end > start && isSpace(text_[end - 1]))
        --end;
      field.assign(text_.substr(start, end - start));
    }
    if (position_ >= text_.size())
      return true;
    if (text_[position_] != separator_) {
      endLine();
      return true;
    }
    ++position_;
  }
}

} // namespace ekrender
