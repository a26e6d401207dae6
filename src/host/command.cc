#include "pramble/host/utilities.h"

#include "pramble/host/value.h"

namespace pramble::host {

std::optional<std::string> Command::LastOption(const std::string& option_name) const {
  std::optional<std::string> value;
  for (std::size_t i = 0; i < option_names.size() && i < option_values.size(); ++i) {
    if (EqualsNoCase(option_names[i], option_name)) value = option_values[i];
  }
  return value;
}

}  // namespace pramble::host
