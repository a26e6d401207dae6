// clsStringBuilder: the host's text accumulator for SQL and R text.
// Append(text, true) adds the text and a line end (CR LF).
#pragma once

#include <cstddef>
#include <string>

namespace pramble::host {

class clsStringBuilder {
 public:
  void Append(const std::string& text, bool new_line) {
    text_ += text;
    if (new_line) text_ += "\r\n";
  }
  std::size_t Length() const { return text_.size(); }
  // Removes `count` characters from the 0-based position `start`.
  void Remove(std::size_t start, std::size_t count);
  const std::string& Text() const { return text_; }
  void Clear() { text_.clear(); }

 private:
  std::string text_;
};

}  // namespace pramble::host
