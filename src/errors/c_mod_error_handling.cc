#include "errors/c_mod_error_handling.h"

#include <exception>
#include <new>

#include "errors/c_mod_global.h"
#include "pramble/host/errors.h"
#include "pramble/component_error.h"
#include "resources/string_table.h"

namespace pramble {
namespace {

constexpr char kTitle[] = "Pramble";
constexpr std::int32_t kRangeEnd = -2147155968;  // 0x80050000

}  // namespace

CurrentError GetCurrentError() {
  std::exception_ptr current = std::current_exception();
  if (!current) return {};
  try {
    std::rethrow_exception(current);
  } catch (const ComponentError& e) {
    return {e.number(), e.description()};
  } catch (const host::HostError& e) {
    return {e.number(), e.description()};
  } catch (const std::bad_alloc&) {
    return {7, "Out of memory"};
  } catch (const std::exception& e) {
    return {51, e.what()};
  } catch (...) {
    return {51, "Internal error"};
  }
}

std::string GetResString(std::int32_t ID) {
  auto text = LoadResString(ID);
  if (!text) return "[No description as error number not in resource file.]";
  return *text;
}

void ReportError(std::int32_t Number, const std::string& Source, const std::string& Parameter) {
  std::exception_ptr current = std::current_exception();
  if (current) {
    try {
      std::rethrow_exception(current);
    } catch (const ComponentError& e) {
      if (e.number() > kErrorBase && e.number() < kRangeEnd) throw;
    } catch (...) {
    }
  }
  const CurrentError err = GetCurrentError();
  const std::string full_source = std::string(kTitle) + "." + Source;
  std::string message;
  if (Number == kErrUnexpected) {
    message = "Unexpected error in Corvane Quox NEngine Interface.\r\n";
    message += "Source: " + full_source + "\r\n";
    message += "Internal Error number: " + std::to_string(err.number) + ".\r\n";
    message += "Internal Error description: \"" + err.description + "\".";
  } else {
    message = GetResString(Number);
    const auto p = message.find('<');
    if (p != std::string::npos) {
      const auto q = message.find('>', p);
      if (q != std::string::npos)
        message = message.substr(0, p) + "'" + Parameter + "'" + message.substr(q + 1);
    }
  }
  throw ComponentError(kErrorBase + Number, full_source, message);
}

void LogErrorSource(const std::string& source) { LogAdd(source, 3); }

}  // namespace pramble
