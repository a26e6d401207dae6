#include "sqlhost/util/text_log.h"

#include <algorithm>
#include <ctime>
#include <exception>

#include "pramble/host/errors.h"

namespace pramble::sqlhost {
namespace {

// " (error N: description)" for the exception being handled, "" outside a
// catch block.
std::string CurrentErrorText() {
  const std::exception_ptr current = std::current_exception();
  if (!current) return "";
  try {
    std::rethrow_exception(current);
  } catch (const host::HostError& e) {
    return " (error " + std::to_string(e.number()) + ": " + e.description() + ")";
  } catch (const std::exception& e) {
    return std::string(" (") + e.what() + ")";
  } catch (...) {
    return " (an unknown error)";
  }
}

std::string LocalTimeText() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buf[32];
  const std::size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S ", &local);
  return std::string(buf, n);
}

}  // namespace

void TextLog::Add(const std::string& message, std::int32_t level) {
  level = std::clamp<std::int32_t>(level, 0, 3);
  if (time_stamp_) contents_ += LocalTimeText();
  switch (level) {
    case 1: contents_ += "Warning: " + message; break;
    case 2: contents_ += "Error: " + message; break;
    case 3: contents_ += "Unexpected error in " + message + CurrentErrorText(); break;
    default: contents_ += message;
  }
  contents_ += '\n';
  severity_ = std::max(severity_, level);
}

}  // namespace pramble::sqlhost
