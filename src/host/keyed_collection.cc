#include "pramble/host/keyed_collection.h"

#include "pramble/host/errors.h"
#include "pramble/host/value.h"

namespace pramble::host {

void clsKeyedCollection::Add(const std::string& item, const std::string& key) {
  if (Exists(key)) throw HostError(457, "This key is already associated with an element of this collection");
  entries_.emplace_back(key, item);
}

bool clsKeyedCollection::Exists(const std::string& key) const {
  for (const auto& e : entries_)
    if (EqualsNoCase(e.first, key)) return true;
  return false;
}

const std::string& clsKeyedCollection::Item(int index) const {
  if (index < 1 || index > Count()) throw HostError(9, "Subscript out of range");
  return entries_[index - 1].second;
}

const std::string& clsKeyedCollection::Item(const std::string& key) const {
  for (const auto& e : entries_)
    if (EqualsNoCase(e.first, key)) return e.second;
  throw HostError(5, "Invalid procedure call or argument");
}

const std::string& clsKeyedCollection::KeyOf(int index) const {
  if (index < 1 || index > Count()) throw HostError(9, "Subscript out of range");
  return entries_[index - 1].first;
}

}  // namespace pramble::host
