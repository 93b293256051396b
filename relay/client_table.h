// ClientTable: the process-wide array of logged-in clients, keyed by name.
//
// Records are kept by value in order of login; removal closes the gap and
// keeps that order. Storage starts at 10 records and doubles when full
// (10, 20, 40, ...); it never shrinks, not even on Clear.
//
// Any thread may call any operation: an internal lock, held only for the
// in-memory work of one call and never while anything waits for another
// thread, makes each call atomic. This is not the client-table lock of a
// relay run (see RelayRun), which serialises the receive thread and the
// sweeper around whole commands. The window thread may call this freely.
//
// Records are handed out as copies, or changed in place through Update, so no
// reference into the storage ever outlives a move of it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/ipv4.h"
#include "platform/mutex.h"
#include "relay/client_record.h"

namespace halvyn {

class ClientTable {
 public:
  static constexpr int kInitialCapacity = 10;

  ClientTable();

  // Appends the record unless its name is present; true when added.
  bool Add(const ClientRecord& record) EXCLUDES(mutex_);
  // A copy of the record with this name.
  std::optional<ClientRecord> Find(std::string_view name) const EXCLUDES(mutex_);
  // Where the client with this name sends from (its stored ip and port). The
  // lock is never held while anyone waits for the window, so any thread may
  // look up, the window thread included.
  std::optional<Ipv4Endpoint> EndpointOf(std::string_view name) const EXCLUDES(mutex_);
  // Runs change on the stored record with this name; false when there is none.
  template <typename Change>
  bool Update(std::string_view name, Change&& change) EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    const int index = IndexOf(name);
    if (index < 0) return false;
    change(records_[size_t(index)]);
    return true;
  }
  // Removes the record with this name; true when one was removed.
  bool Remove(std::string_view name) EXCLUDES(mutex_);
  // Removes the record at index if now - last_seen >= limitMs (unsigned 32-bit
  // difference, so the tick's wrap does no harm) and returns it. A last_seen
  // less than limitMs after now (refreshed since the caller read its clock)
  // counts as fresh.
  std::optional<ClientRecord> RemoveIfSilent(int index, uint32_t now, uint32_t limitMs)
      EXCLUDES(mutex_);
  // Forgets every record; storage and capacity stay.
  void Clear() EXCLUDES(mutex_);

  int count() const EXCLUDES(mutex_);
  // How many stored records have this public address (network order).
  int CountAtAddress(uint32_t address) const EXCLUDES(mutex_);
  int capacity() const EXCLUDES(mutex_);
  std::optional<ClientRecord> At(int index) const EXCLUDES(mutex_);
  std::vector<ClientRecord> Snapshot() const EXCLUDES(mutex_);

  // The "h" list datagram (n blocks of 120 bytes) and every client's address,
  // in table order, taken in one step. Reuses the caller's buffers.
  void BuildClientList(std::vector<uint8_t>& datagram,
                       std::vector<Ipv4Endpoint>& destinations) const EXCLUDES(mutex_);
  // The destinations alone, in table order.
  void Destinations(std::vector<Ipv4Endpoint>& destinations) const EXCLUDES(mutex_);

 private:
  // Heterogeneous lookup, so a name from a datagram is found without allocating.
  struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
  };

  int IndexOf(std::string_view name) const REQUIRES(mutex_);
  void RemoveAt(int index) REQUIRES(mutex_);

  mutable Mutex mutex_;
  std::unique_ptr<ClientRecord[]> records_ GUARDED_BY(mutex_);
  int count_ GUARDED_BY(mutex_) = 0;
  int capacity_ GUARDED_BY(mutex_) = 0;
  // name -> index, beside the ordered array, so lookups stay fast with many clients.
  std::unordered_map<std::string, int, NameHash, std::equal_to<>> index_ GUARDED_BY(mutex_);
};

}  // namespace halvyn
