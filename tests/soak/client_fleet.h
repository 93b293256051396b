// The soak's remote clients: kClientCount relay clients on the PC namespace's
// loopback, each with a socket of its own, served from one thread.
//
// Keepers log in once and keep alive for the whole run (some change their NAT
// port now and then: a new socket sends the next "k"); churners come and go,
// by "f" or by vanishing without a word. Every datagram a client receives is
// checked: "g" echoes the login, "h" lists are well formed (client 0 reads
// them whole), a forwarded "p" is byte for byte what its sender sent. Route
// replies ("u", "v", "t", "s") go to the route driver.
//
// Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "platform/ipv4.h"
#include "platform/readiness_poller.h"
#include "platform/udp_batch.h"
#include "platform/udp_socket.h"
#include "relay/client_record.h"
#include "tests/soak/findings.h"
#include "tests/soak/timeline.h"

namespace halvyn::testing::soak {

struct WindowSnapshot {
  int64_t sentAt = 0;      // the request left
  int64_t answeredAt = 0;  // the whole answer was in
  std::vector<std::string> remoteDevices;
};

class ClientFleet {
 public:
  enum class State { kOffline, kLoggingIn, kOnline, kLoggedOut, kVanished };

  struct Client {
    std::string name;
    bool keeper = false;
    ClientRecord record;       // as the client sends it (name, p2p, its own bytes)
    ClientRecord loginRecord;  // as its last "e" carried it
    std::unique_ptr<UdpSocket> socket;
    State state = State::kOffline;
    int64_t stateSince = 0;
    int64_t loginDueAt = 0;    // next "e" (while logging in)
    int64_t listedSince = -1;  // login confirmed ("g" or the window)
    bool firstLoginSent = false;
    // The server's last_seen for this client lies between these two: the
    // first "e" of the login or the last "k", and the last "e" or "k" sent.
    int64_t refreshLow = 0;
    int64_t lastSent = 0;
    int64_t nextKeepAlive = 0;
    int64_t portChangedAt = -1;  // its last NAT change
    bool confirmedByWindow = false;
  };

  struct Counters {
    uint64_t sent = 0;
    uint64_t received = 0;
    uint64_t logins = 0;  // confirmed
    uint64_t logouts = 0;
    uint64_t vanished = 0;
    uint64_t natChanges = 0;
    uint64_t lists = 0;
    uint64_t connectsSent = 0;
    uint64_t connectsDelivered = 0;
    uint64_t presenceChecks = 0;  // a keeper found listed where it must be
    uint64_t dropsSeen = 0;       // a silent client found gone within the limit
  };

  using RouteReplyHandler = std::function<void(int client, std::span<const uint8_t> datagram)>;
  // Runs work where the clients' sockets must live (the PC namespace).
  using InNamespace = std::function<void(const std::function<void()>& work)>;

  ClientFleet(InNamespace inNamespace, Ipv4Endpoint relay, std::mt19937_64& random,
              Findings& findings, const Timeline& timeline);

  // Opens the sockets; keepers and most churners start logging in at once.
  bool Open(int64_t now);
  void OnRouteReply(RouteReplyHandler handler) { routeReply_ = std::move(handler); }

  // Reads what has arrived, waiting up to timeoutMs for the first datagram.
  void Poll(int timeoutMs);
  // Sends the logins and keep-alives that are due (at most a few logins per call).
  void Tick(int64_t now);

  // One event each.
  void Churn(int64_t now);
  void ReportInfo(int64_t now);
  void Connect(int64_t now);
  void ChangeNatPort(int64_t now);

  // Clear clients emptied the table: who should be online logs in again.
  void OnCleared(int64_t now);
  // Checks the window's remote-device list against who must and who must not
  // be listed at that time; confirms logins it shows.
  void CheckWindowList(const WindowSnapshot& snapshot, int64_t slackMs);

  // Every client that should be online has had its login confirmed.
  bool Settled() const;
  int OnlineCount() const;

  Client& client(int i) { return clients_[size_t(i)]; }
  int size() const { return int(clients_.size()); }
  bool Send(int i, std::span<const uint8_t> datagram, Ipv4Endpoint to);
  const Counters& counters() const { return counters_; }

 private:
  static constexpr uint64_t kObserverTag = 0;  // client 0 reads lists whole

  std::unique_ptr<UdpSocket> OpenSocket();
  bool Watch(int i);
  void SetState(int i, State state, int64_t now);
  void StartLogin(int i, int64_t now, int64_t delayMs);
  void SendRecord(int i, uint8_t letter, int64_t now);
  void OnDatagram(int i, std::span<const uint8_t> bytes, size_t length);
  void CheckLoginReply(int i, std::span<const uint8_t> bytes);
  void CheckList(std::span<const uint8_t> bytes, size_t length);
  void CheckConnect(int i, std::span<const uint8_t> bytes, size_t length);
  void Confirm(int i, int64_t at, bool byWindow);
  std::string History(int i, int64_t at) const;
  int RandomClient(bool keepersOnly, State state);

  InNamespace inNamespace_;
  Ipv4Endpoint relay_;
  std::mt19937_64& random_;
  Findings& findings_;
  const Timeline& timeline_;
  RouteReplyHandler routeReply_;

  std::vector<Client> clients_;
  std::map<std::string, int, std::less<>> byName_;
  ReadinessPoller poller_;
  ReceiveBatch small_{32, 256, ReceiveBatch::Oversized::kKeepHead};  // every reply but "h" whole
  ReceiveBatch whole_{4, 65536};
  std::vector<uint64_t> ready_;

  struct SentConnect {
    int sender;
    int target;
    std::array<uint8_t, client_record::kSize> record;
  };
  std::map<uint64_t, SentConnect> connects_;  // by the nonce in the sender's record
  uint64_t nextNonce_ = 1;
  int64_t lastLogin_ = 0;
  std::set<std::string, std::less<>> lastList_;  // names in the last "h" client 0 read
  int64_t lastListAt_ = 0;
  bool lastLoginAnswered_ = true;
  Counters counters_;
};

}  // namespace halvyn::testing::soak
