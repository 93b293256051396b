#include "console/log_lines.h"

#include <cstdio>

#include "platform/ipv4.h"

namespace halvyn {

std::string LoggedName(std::string_view name) {
  std::string text;
  text.reserve(name.size());
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      text += escaped;
    } else {
      text += c;
    }
  }
  return text;
}

namespace {

std::string Endpoint(const ClientRecord& record) {
  return LoggedName(record.name()) + "(" + DottedText(record.ip()) + ":" +
         std::to_string(record.port());
}

}  // namespace

std::string LoginLine(const ClientRecord& record) {
  return Endpoint(record) + ")login.\r\n";
}

std::string LogoutLine(const ClientRecord& record) {
  return Endpoint(record) + " ) logout.\r\n";
}

std::string TimeoutLine(const ClientRecord& record) {
  return Endpoint(record) + ") timeout.\r\n";
}

std::string ClientInfoLine(const ClientRecord& record) {
  return LoggedName(record.name()) + "  p2p_port : " + std::to_string(record.p2p_port()) + ".\r\n";
}

}  // namespace halvyn
