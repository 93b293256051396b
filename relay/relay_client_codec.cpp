#include "relay/relay_client_codec.h"

#include <algorithm>

namespace halvyn {

using namespace relay_packet;

ClientRecord NamedRecord(std::string_view name) {
  ClientRecord record;
  record.set_name(name);
  return record;
}

Datagram BuildRecordPacket(uint8_t letter, const ClientRecord& self, uint8_t count) {
  Datagram packet(kRecordFormSize, 0);
  WriteRecordForm(std::span(packet).first<kRecordFormSize>(), letter, count, self);
  return packet;
}

Datagram BuildConnectRequest(const ClientRecord& self, std::string_view target, size_t nameField) {
  Datagram packet(kTargetNameOffset + std::max(nameField, target.size() + 1), 0);
  WriteConnectRequest(packet, self, target);
  return packet;
}

void WriteConnectRequest(std::span<uint8_t> out, const ClientRecord& self,
                         std::string_view target) {
  WriteRecordForm(out.first<kRecordFormSize>(), kConnect, 0, self);
  const std::span<uint8_t> field = out.subspan(kTargetNameOffset);
  std::fill(field.begin(), field.end(), uint8_t{0});
  std::copy_n(target.begin(), std::min(target.size(), field.size() - 1), field.begin());
}

bool ClientListView::HasListHeader(size_t k) const {
  const auto block = Block(k);
  return block[0] == kMagic0 && block[1] == kMagic1 && block[kCommandOffset] == kClientList &&
         block[kCountOffset] == uint8_t(size());
}

bool ClientListView::WellFormed() const {
  if (!whole()) return false;
  for (size_t k = 0; k < size(); ++k)
    if (!HasListHeader(k)) return false;
  return true;
}

ClientRecord ClientListView::record(size_t k) const {
  return ClientRecord::FromBytes(Block(k).subspan<kRecordOffset, client_record::kSize>());
}

}  // namespace halvyn
