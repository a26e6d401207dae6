#include "sqlhost/project/csv_reader.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "sqlhost/project/project_error.h"

namespace pramble::sqlhost {
namespace {

constexpr std::size_t kChunk = 1 << 18;  // bytes read at a time

std::string CannotRead(const std::string& display) {
  return display + ": cannot read the file: " + std::strerror(errno ? errno : EIO);
}

}  // namespace

CsvReader::CsvReader(std::FILE* file, std::string text, std::string display)
    : file_(file), buf_(std::move(text)), display_(std::move(display)) {
  if (Have(3) && buf_.compare(0, 3, "\xEF\xBB\xBF") == 0) pos_ = 3;
}

CsvReader::CsvReader(const std::string& path, const std::string& display)
    : CsvReader(nullptr, "", display) {
  errno = 0;
  file_ = std::fopen(path.c_str(), "rb");
  if (file_ == nullptr) throw DescriptionError(CannotRead(display));
  if (Have(3) && buf_.compare(0, 3, "\xEF\xBB\xBF") == 0) pos_ = 3;
}

CsvReader CsvReader::FromText(std::string text, const std::string& display) {
  return CsvReader(nullptr, std::move(text), display);
}

CsvReader::~CsvReader() {
  if (file_ != nullptr) std::fclose(file_);
}

CsvReader::CsvReader(CsvReader&& other) noexcept
    : file_(std::exchange(other.file_, nullptr)),
      buf_(std::move(other.buf_)),
      pos_(other.pos_),
      display_(std::move(other.display_)),
      line_(other.line_) {}

bool CsvReader::Have(std::size_t n) {
  if (buf_.size() - pos_ >= n) return true;
  if (file_ == nullptr) return false;
  buf_.erase(0, pos_);
  pos_ = 0;
  while (buf_.size() < n) {
    const std::size_t had = buf_.size();
    buf_.resize(had + kChunk);
    errno = 0;
    const std::size_t got = std::fread(buf_.data() + had, 1, kChunk, file_);
    buf_.resize(had + got);
    if (got == 0) {
      if (std::ferror(file_)) throw DescriptionError(CannotRead(display_));
      std::fclose(file_);
      file_ = nullptr;
      return false;
    }
  }
  return true;
}

bool CsvReader::AtLineEnd() {
  const int c = At(0);
  if (c == '\n') return true;
  if (c != '\r') return false;
  const int next = At(1);
  return next == '\n' || next == -1;
}

void CsvReader::SkipLineEnd() {
  if (At(0) == '\r') ++pos_;
  if (At(0) == '\n') ++pos_;
}

void CsvReader::Fail(int line, const std::string& problem) const {
  throw DescriptionError(display_ + ":" + std::to_string(line) + ": " + problem);
}

void CsvReader::ReadQuoted(std::string& cell) {
  const int start_line = line_;
  ++pos_;
  for (;;) {
    if (!Have(1)) Fail(start_line, "a quoted cell is not closed (a '\"' is missing)");
    std::size_t i = pos_;
    while (i < buf_.size() && buf_[i] != '"' && buf_[i] != '\n') ++i;
    cell.append(buf_, pos_, i - pos_);
    pos_ = i;
    if (i == buf_.size()) continue;
    ++pos_;
    if (buf_[i] == '\n') {
      ++line_;
      cell += '\n';
      continue;
    }
    if (At(0) != '"') break;
    cell += '"';
    ++pos_;
  }
  if (At(0) != -1 && At(0) != ',' && !AtLineEnd()) {
    Fail(line_, "a closing '\"' must be followed by ',' or the end of the line");
  }
}

void CsvReader::ReadPlain(std::string& cell) {
  for (;;) {
    std::size_t i = pos_;
    while (i < buf_.size()) {
      const char c = buf_[i];
      if (c == ',' || c == '\n' || c == '\r' || c == '"') break;
      ++i;
    }
    cell.append(buf_, pos_, i - pos_);
    pos_ = i;
    if (i == buf_.size()) {
      if (!Have(1)) return;
      continue;
    }
    if (buf_[i] == '"') {
      Fail(line_, "a '\"' inside an unquoted cell (quote the whole cell and double the '\"')");
    }
    if (buf_[i] != '\r' || AtLineEnd()) return;
    cell += '\r';
    ++pos_;
  }
}

bool CsvReader::Next(CsvRecord& rec) {
  // A blank line holds no record.
  for (;;) {
    if (!Have(1)) return false;
    const int c = At(0);
    if (c != '\n' && !(c == '\r' && At(1) == '\n')) break;
    SkipLineEnd();
    ++line_;
  }
  rec.line = line_;
  std::size_t used = 0;
  for (;;) {
    if (used == rec.cells.size()) rec.cells.emplace_back();
    std::string& cell = rec.cells[used++];
    cell.clear();
    if (At(0) == '"') {
      ReadQuoted(cell);
    } else {
      ReadPlain(cell);
    }
    const int c = At(0);
    if (c == -1) break;
    if (c == ',') {
      ++pos_;
      continue;
    }
    SkipLineEnd();
    ++line_;
    break;
  }
  rec.cells.resize(used);
  return true;
}

std::vector<CsvRecord> ParseCsv(const std::string& text, const std::string& display) {
  CsvReader in = CsvReader::FromText(text, display);
  std::vector<CsvRecord> records;
  for (CsvRecord rec; in.Next(rec);) records.push_back(rec);
  return records;
}

std::vector<CsvRecord> ReadCsvFile(const std::string& path, const std::string& display) {
  CsvReader in(path, display);
  std::vector<CsvRecord> records;
  for (CsvRecord rec; in.Next(rec);) records.push_back(rec);
  return records;
}

}  // namespace pramble::sqlhost
