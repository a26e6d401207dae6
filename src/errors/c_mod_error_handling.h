// The component's one error routine and its handler styles.
//
// Every procedure that can fail catches errors in its body and ends in one of
// three styles:
//   log style     - LogErrorSource("Class.Procedure"): the source at level 3,
//                   the procedure answers its failure value;
//   raise style   - ReportError(9999 or a resource number, "Class.Procedure");
//   message style - a fixed level-2 message through gLog.
//
// "The current error" that ReportError inspects is the exception being handled
// when it is called (none outside a catch block).
#pragma once

#include <cstdint>
#include <string>

namespace pramble {

inline constexpr std::int32_t kErrUnexpected = 9999;
// Base of the interface-defined range of error numbers (0x80040000).
inline constexpr std::int32_t kErrorBase = -2147221504;

// Raises a ComponentError: never returns. A component error already raised by
// a deeper ReportError is raised again unchanged; otherwise the number is
// kErrorBase + Number, the source "Pramble." + Source, and the description
// the resource text (with Parameter in single quotes for its placeholder) or,
// for 9999, the four-line unexpected-error text naming the current error.
[[noreturn]] void ReportError(std::int32_t Number, const std::string& Source,
                              const std::string& Parameter = "");

// The resource string, or "[No description as error number not in resource file.]".
std::string GetResString(std::int32_t ID);

// Log style: adds the procedure's error source at level 3 to gLog.
void LogErrorSource(const std::string& source);

// The number and description of the exception being handled, as ReportError
// sees it (0 and "" outside a catch block).
struct CurrentError {
  std::int32_t number = 0;
  std::string description;
};
CurrentError GetCurrentError();

}  // namespace pramble
