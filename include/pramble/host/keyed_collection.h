// clsKeyedCollection: an ordered list of (key, item) text pairs, looked up by
// key without regard to case. Entries keep the order in which they were added.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace pramble::host {

class clsKeyedCollection {
 public:
  // Fails (HostError 457) when the key is already present.
  void Add(const std::string& item, const std::string& key);
  bool Exists(const std::string& key) const;
  int Count() const { return static_cast<int>(entries_.size()); }
  // 1-based, as the host's collections are.
  const std::string& Item(int index) const;
  const std::string& Item(const std::string& key) const;  // fails (HostError 5) when absent
  const std::string& KeyOf(int index) const;

 private:
  std::vector<std::pair<std::string, std::string>> entries_;  // (key, item)
};

}  // namespace pramble::host
