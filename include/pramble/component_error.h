// The error that the component raises to its caller: a number, a source and a
// description. Numbers are -2147221504 + a resource number (7950, 7951) or
// + 9999 for an unexpected error; the source starts with "Pramble.".
//
// Example: RunItem on an unknown item raises number -2147213553, source
// "Pramble.QuoxNEngineInterface.GetBrowserItem", description
// "Cannot find item '99'.".
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace pramble {

class ComponentError : public std::exception {
 public:
  ComponentError(std::int32_t number, std::string source, std::string description)
      : number_(number), source_(std::move(source)), description_(std::move(description)) {}
  std::int32_t number() const noexcept { return number_; }
  const std::string& source() const noexcept { return source_; }
  const std::string& description() const noexcept { return description_; }
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  std::int32_t number_;
  std::string source_;
  std::string description_;
};

}  // namespace pramble
