// Who may talk to the console: the Host check against DNS rebinding, the
// bearer token on non-loopback addresses, and the content type of commands.
#pragma once

#include <string>
#include <string_view>

namespace halvyn {

class ConsoleAccess {
 public:
  // token empty: none required. The console requires one whenever it listens
  // on anything but loopback (the caller makes sure one is set then).
  ConsoleAccess(std::string listenAddress, std::string token)
      : listenAddress_(std::move(listenAddress)), token_(std::move(token)) {}

  // Without a token (loopback only) the Host header must name the listening
  // address or localhost (any port), against DNS rebinding. With a token any
  // Host will do: a page of another origin cannot learn the token, so
  // rebinding a name to the console gains it nothing, and the operator may
  // reach the console by any of the machine's addresses or names.
  bool HostAllowed(std::string_view hostHeader) const;
  // The Authorization header must be "Bearer TOKEN" when a token is set.
  bool Authorized(std::string_view authorizationHeader) const;
  static bool IsJsonContentType(std::string_view contentType);
  static bool IsLoopback(std::string_view address);

 private:
  std::string listenAddress_;
  std::string token_;
};

}  // namespace halvyn
