#include "sqlhost/cli/table_printer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

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

std::string FullPrecision(double value) {
  char buf[64];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  return ec == std::errc() ? std::string(buf, end) : "";
}


}  // namespace

std::string HtmlEscaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

Cell NumberCell(const std::optional<double>& value) {
  if (!value || !std::isfinite(*value)) return std::monostate{};
  return *value;
}

std::string TablePrinter::Text(const Cell& cell, std::size_t column) const {
  if (const auto* text = std::get_if<std::string>(&cell)) return *text;
  const auto* number = std::get_if<double>(&cell);
  if (!number) return "";
  const int digits = columns_[column].digits;
  if (digits <= 0) return FullPrecision(*number);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*g", digits, *number);
  return buf;
}

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
      for (const auto& row : rows_) width = std::max(width, Text(row[c], c).size());
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
  for (const auto& row : rows_) print([&](std::size_t c) { return Text(row[c], c); });
}

void TablePrinter::PrintCsv(std::ostream& out) const {
  auto print = [&](auto cell_of) {
    for (std::size_t c = 0; c < columns_.size(); ++c) out << (c ? "," : "") << CsvField(cell_of(c));
    out << "\r\n";
  };
  print([&](std::size_t c) { return columns_[c].name; });
  for (const auto& row : rows_) {
    print([&](std::size_t c) {
      const auto* number = std::get_if<double>(&row[c]);
      return number ? FullPrecision(*number) : Text(row[c], c);
    });
  }
}

void TablePrinter::PrintJson(std::ostream& out) const { out << JsonRows().dump(2) << "\n"; }

nlohmann::ordered_json TablePrinter::JsonRows() const {
  nlohmann::ordered_json rows = nlohmann::ordered_json::array();
  for (const auto& row : rows_) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (std::size_t c = 0; c < columns_.size(); ++c) {
      if (const auto* text = std::get_if<std::string>(&row[c])) {
        object[columns_[c].name] = *text;
      } else if (const auto* number = std::get_if<double>(&row[c])) {
        object[columns_[c].name] = *number;
      } else {
        object[columns_[c].name] = nullptr;
      }
    }
    rows.push_back(std::move(object));
  }
  return rows;
}

void TablePrinter::PrintHtml(std::ostream& out) const {
  out << "<table>\n<thead><tr>";
  for (const Column& column : columns_) out << "<th>" << HtmlEscaped(column.name) << "</th>";
  out << "</tr></thead>\n<tbody>\n";
  for (const auto& row : rows_) {
    out << "<tr>";
    for (std::size_t c = 0; c < columns_.size(); ++c) {
      const bool number = std::holds_alternative<double>(row[c]);
      out << (number ? "<td class=\"num\">" : "<td>") << HtmlEscaped(Text(row[c], c)) << "</td>";
    }
    out << "</tr>\n";
  }
  out << "</tbody>\n</table>\n";
}

}  // namespace pramble::cli
