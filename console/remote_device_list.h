// The remote-device list: names of logged-in clients, kept sorted
// alphabetically ignoring case, as a sorted list box keeps them. Window thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace halvyn {

class RemoteDeviceList {
 public:
  void Add(std::string_view name);
  // Removes the first entry, in list order, equal to name byte for byte.
  bool Remove(std::string_view name);
  void Clear() { entries_.clear(); }
  const std::vector<std::string>& entries() const { return entries_; }

 private:
  std::vector<std::string> entries_;
};

}  // namespace halvyn
