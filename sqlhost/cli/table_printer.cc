#include "sqlhost/cli/table_printer.h"

#include <algorithm>
#include <cmath>

#include <nlohmann/json.hpp>

namespace pramble::cli {
namespace {

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

}  // namespace

std::string Pad(const std::string& text, std::size_t width, bool right) {
  if (text.size() >= width) return text;
  const std::string blanks(width - text.size(), ' ');
  return right ? blanks + text : text + blanks;
}

std::string WithThousands(double value) {
  const long long n = std::llround(value);
  const std::string digits = std::to_string(n < 0 ? -n : n);
  std::string text = n < 0 ? "-" : "";
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
    text += digits[i];
  }
  return text;
}

void TablePrinter::Print(std::ostream& out, OutputFormat format) const {
  switch (format) {
    case OutputFormat::kText: return PrintText(out);
    case OutputFormat::kCsv: return PrintCsv(out);
    case OutputFormat::kJson: return PrintJson(out);
  }
}

void TablePrinter::PrintText(std::ostream& out) const {
  std::vector<std::size_t> widths;
  for (std::size_t c = 0; c < columns_.size(); ++c) {
    std::size_t width = columns_[c].width;
    if (width == 0) {
      width = columns_[c].name.size();
      for (const auto& row : rows_) width = std::max(width, row[c].size());
    }
    widths.push_back(width);
  }
  auto print = [&](auto cell_of) {
    for (std::size_t c = 0; c < columns_.size(); ++c) {
      const bool right = columns_[c].align == Align::kRight;
      const bool last = c + 1 == columns_.size();
      if (c > 0) out << "  ";
      out << (last && !right ? cell_of(c) : Pad(cell_of(c), widths[c], right));
    }
    out << "\n";
  };
  print([&](std::size_t c) { return columns_[c].name; });
  for (const auto& row : rows_) print([&](std::size_t c) { return row[c]; });
}

void TablePrinter::PrintCsv(std::ostream& out) const {
  auto print = [&](auto cell_of) {
    for (std::size_t c = 0; c < columns_.size(); ++c) out << (c ? "," : "") << CsvField(cell_of(c));
    out << "\r\n";
  };
  print([&](std::size_t c) { return columns_[c].name; });
  for (const auto& row : rows_) print([&](std::size_t c) { return row[c]; });
}

void TablePrinter::PrintJson(std::ostream& out) const {
  nlohmann::ordered_json rows = nlohmann::ordered_json::array();
  for (const auto& row : rows_) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (std::size_t c = 0; c < columns_.size(); ++c) object[columns_[c].name] = row[c];
    rows.push_back(std::move(object));
  }
  out << rows.dump(2) << "\n";
}

}  // namespace pramble::cli
