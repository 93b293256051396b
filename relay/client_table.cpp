#include "relay/client_table.h"

#include <algorithm>

#include "relay/relay_packet.h"

namespace halvyn {

ClientTable::ClientTable() {
  MutexLock lock(mutex_);
  records_ = std::make_unique<ClientRecord[]>(kInitialCapacity);
  capacity_ = kInitialCapacity;
}

int ClientTable::IndexOf(std::string_view name) const {
  auto found = index_.find(name);
  return found == index_.end() ? -1 : found->second;
}

bool ClientTable::Add(const ClientRecord& record) {
  MutexLock lock(mutex_);
  const std::string_view name = record.name();
  if (IndexOf(name) >= 0) return false;
  if (count_ == capacity_) {
    const int grown = capacity_ * 2;
    auto storage = std::make_unique<ClientRecord[]>(size_t(grown));
    std::copy(records_.get(), records_.get() + count_, storage.get());
    records_ = std::move(storage);
    capacity_ = grown;
  }
  records_[size_t(count_)] = record;
  index_.emplace(std::string(name), count_);
  ++count_;
  return true;
}

std::optional<ClientRecord> ClientTable::Find(std::string_view name) const {
  MutexLock lock(mutex_);
  const int index = IndexOf(name);
  if (index < 0) return std::nullopt;
  return records_[size_t(index)];
}

std::optional<Ipv4Endpoint> ClientTable::EndpointOf(std::string_view name) const {
  if (auto record = Find(name)) return Ipv4Endpoint{record->ip(), record->port()};
  return std::nullopt;
}

void ClientTable::RemoveAt(int index) {
  index_.erase(index_.find(records_[size_t(index)].name()));
  std::copy(records_.get() + index + 1, records_.get() + count_, records_.get() + index);
  --count_;
  for (int i = index; i < count_; ++i) index_.find(records_[size_t(i)].name())->second = i;
}

bool ClientTable::Remove(std::string_view name) {
  MutexLock lock(mutex_);
  const int index = IndexOf(name);
  if (index < 0) return false;
  RemoveAt(index);
  return true;
}

std::optional<ClientRecord> ClientTable::RemoveIfSilent(int index, uint32_t now, uint32_t limitMs) {
  MutexLock lock(mutex_);
  if (index < 0 || index >= count_) return std::nullopt;
  const ClientRecord record = records_[size_t(index)];
  if (uint32_t(now - record.last_seen()) < limitMs) return std::nullopt;
  // Heard after `now` was taken: a keep-alive handled while the sweep waited
  // for the lock. Its unsigned age would wrap to weeks; it is fresh.
  if (uint32_t(record.last_seen() - now) < limitMs) return std::nullopt;
  RemoveAt(index);
  return record;
}

void ClientTable::Clear() {
  MutexLock lock(mutex_);
  count_ = 0;
  index_.clear();
}

int ClientTable::count() const {
  MutexLock lock(mutex_);
  return count_;
}

int ClientTable::CountAtAddress(uint32_t address) const {
  MutexLock lock(mutex_);
  return int(std::count_if(records_.get(), records_.get() + count_,
                           [&](const ClientRecord& record) { return record.ip() == address; }));
}

int ClientTable::capacity() const {
  MutexLock lock(mutex_);
  return capacity_;
}

std::optional<ClientRecord> ClientTable::At(int index) const {
  MutexLock lock(mutex_);
  if (index < 0 || index >= count_) return std::nullopt;
  return records_[size_t(index)];
}

std::vector<ClientRecord> ClientTable::Snapshot() const {
  MutexLock lock(mutex_);
  return std::vector<ClientRecord>(records_.get(), records_.get() + count_);
}

void ClientTable::BuildClientList(std::vector<uint8_t>& datagram,
                                  std::vector<Ipv4Endpoint>& destinations) const {
  using namespace relay_packet;
  MutexLock lock(mutex_);
  datagram.assign(size_t(count_) * kRecordFormSize, 0);
  destinations.clear();
  destinations.reserve(size_t(count_));
  for (int k = 0; k < count_; ++k) {
    const ClientRecord& record = records_[size_t(k)];
    WriteRecordForm(
        std::span(datagram).subspan(size_t(k) * kRecordFormSize).first<kRecordFormSize>(),
        kClientList, uint8_t(count_), record);
    destinations.push_back({record.ip(), record.port()});
  }
}

void ClientTable::Destinations(std::vector<Ipv4Endpoint>& destinations) const {
  MutexLock lock(mutex_);
  destinations.clear();
  for (int k = 0; k < count_; ++k)
    destinations.push_back({records_[size_t(k)].ip(), records_[size_t(k)].port()});
}

}  // namespace halvyn
