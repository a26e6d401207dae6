#include "pramble/host/string_builder.h"

#include "pramble/host/errors.h"

namespace pramble::host {

void clsStringBuilder::Remove(std::size_t start, std::size_t count) {
  if (start > text_.size() || count > text_.size() - start)
    throw HostError(5, "Invalid procedure call or argument");
  text_.erase(start, count);
}

}  // namespace pramble::host
