#include "sqlhost/util/number_text.h"

#include <charconv>
#include <cmath>

namespace pramble::sqlhost {

std::string ShortestNumberText(double value) {
  char buf[400];  // a fixed-form double needs at most ~330 characters
  const double magnitude = std::fabs(value);
  const bool plain = magnitude == 0.0 || (magnitude >= 1e-6 && magnitude < 1e15);
  auto result = plain ? std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed)
                      : std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  return std::string(buf, result.ptr);
}

}  // namespace pramble::sqlhost
