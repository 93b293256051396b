// The message log's lines, each ending in CR LF. The spaces differ on purpose:
// operators and their scripts know these lines as they are.
//
// A client chooses its own name, so a name is written with its control bytes
// (below 0x20, and 0x7F) as "\xNN": a name holding CR LF cannot end its line
// early and forge another one in the log or on stdout. Printable names are
// written as they are.
#pragma once

#include <string>
#include <string_view>

#include "relay/client_record.h"

namespace halvyn {

// "%s(%s:%ld)login.\r\n": name, ip as dotted text, port.
std::string LoginLine(const ClientRecord& record);
// "%s(%s:%ld ) logout.\r\n"
std::string LogoutLine(const ClientRecord& record);
// "%s(%s:%ld) timeout.\r\n"
std::string TimeoutLine(const ClientRecord& record);
// "%s  p2p_port : %d.\r\n": name, p2p_port (unsigned 16-bit).
std::string ClientInfoLine(const ClientRecord& record);
// The name as the log writes it (see above).
std::string LoggedName(std::string_view name);

inline constexpr std::string_view kForwardConnectLine = "Foward p2p_connect.\r\n";

}  // namespace halvyn
