#include "console/log_lines.h"

#include "platform/ipv4.h"

namespace halvyn {

namespace {

std::string Endpoint(const ClientRecord& record) {
  return std::string(record.name()) + "(" + DottedText(record.ip()) + ":" +
         std::to_string(record.port());
}

}  // namespace

std::string LoginLine(const ClientRecord& record) { return Endpoint(record) + ")login.\r\n"; }

std::string LogoutLine(const ClientRecord& record) { return Endpoint(record) + " ) logout.\r\n"; }

std::string TimeoutLine(const ClientRecord& record) { return Endpoint(record) + ") timeout.\r\n"; }

std::string ClientInfoLine(const ClientRecord& record) {
  return std::string(record.name()) + "  p2p_port : " + std::to_string(record.p2p_port()) +
         ".\r\n";
}

}  // namespace halvyn
