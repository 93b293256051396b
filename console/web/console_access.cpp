#include "console/web/console_access.h"

#include <algorithm>
#include <cctype>

#include "platform/ipv4.h"

namespace halvyn {

namespace {

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return char(std::tolower(c)); });
  return lower;
}

// Constant-time comparison, so the token cannot be guessed byte by byte.
bool SameSecret(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (size_t i = 0; i < a.size(); ++i) difference |= uint8_t(a[i] ^ b[i]);
  return difference == 0;
}

}  // namespace

bool ConsoleAccess::HostAllowed(std::string_view hostHeader) const {
  if (!token_.empty()) return true;
  std::string_view host = hostHeader;
  if (const auto colon = host.rfind(':'); colon != std::string_view::npos) {
    const std::string_view port = host.substr(colon + 1);
    if (port.empty() || !std::all_of(port.begin(), port.end(), ::isdigit)) return false;
    host = host.substr(0, colon);
  }
  const std::string name = Lower(host);
  return name == "localhost" || name == Lower(listenAddress_) ||
         (IsLoopback(listenAddress_) && name == "127.0.0.1");
}

bool ConsoleAccess::Authorized(std::string_view authorizationHeader) const {
  if (token_.empty()) return true;
  constexpr std::string_view kScheme = "Bearer ";
  if (!authorizationHeader.starts_with(kScheme)) return false;
  return SameSecret(authorizationHeader.substr(kScheme.size()), token_);
}

bool ConsoleAccess::IsJsonContentType(std::string_view contentType) {
  const std::string type = Lower(contentType.substr(0, contentType.find(';')));
  return type == "application/json";
}

bool ConsoleAccess::IsLoopback(std::string_view address) {
  const auto parsed = ParseDotted(address);
  return parsed && (NetworkToHostOrder(*parsed) >> 24) == 127;
}

}  // namespace halvyn
