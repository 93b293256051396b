#include "console/remote_device_list.h"

#include <algorithm>

namespace halvyn {

namespace {

unsigned char Folded(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') ? u + ('a' - 'A') : u;
}

bool LessIgnoringCase(std::string_view a, std::string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return Folded(x) < Folded(y); });
}

}  // namespace

void RemoteDeviceList::Add(std::string_view name) {
  auto at = std::upper_bound(
      entries_.begin(), entries_.end(), name,
      [](std::string_view n, const std::string& e) { return LessIgnoringCase(n, e); });
  entries_.insert(at, std::string(name));
}

bool RemoteDeviceList::Remove(std::string_view name) {
  auto found = std::find(entries_.begin(), entries_.end(), name);
  if (found == entries_.end()) return false;
  entries_.erase(found);
  return true;
}

}  // namespace halvyn
