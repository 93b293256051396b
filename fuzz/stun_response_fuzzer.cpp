// libFuzzer target for ParseStunResponse, the parser of every datagram that
// reaches the STUN client's socket. Seeds: fuzz/corpus/stun_response/.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/byte_order.h"
#include "publicaddress/stun_message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto mapped = halvyn::ParseStunResponse(data, size);
  // Success needs at least a header and one mapped attribute of a Binding
  // Success Response whose message fits in the datagram.
  if (mapped) {
    if (size < halvyn::stun_message::kHeaderSize + 12) std::abort();
    if (halvyn::LoadBe16(data) != halvyn::stun_message::kBindingSuccessResponse) std::abort();
    if (halvyn::stun_message::kHeaderSize + halvyn::LoadBe16(data + 2) > size) std::abort();
  }
  return 0;
}
