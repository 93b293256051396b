// Drives sequences of relay datagrams through the real dispatch: the relay's
// RelayDispatcher with a real ClientTable, the forward-route handler behind
// "r" and "x", and the real window (CHalvynDlg) handling the console notices.
// The relay's defences run with small limits. The transport is a fake that
// checks every datagram the server sends; the clock is a fake the input moves. After every step the
// client table, the remote-device list and the route bookkeeping must be sound.
//
// Input: a sequence of steps, each an opcode byte followed by its operands
// (missing bytes read as 0):
//   0 datagram   source selector, length (2 bytes LE, at most 1024), the bytes
//   1 command    letter selector, name selector, p2p_ip byte, p2p_port (2 LE),
//                source selector, then per letter: "p" target name selector;
//                "r" length selector, rx name selector, tx/rx channel counts;
//                "x" slot selector and length selector
//   2 clock      advances by 16 ms per unit of a 2-byte LE count; 0xFFFF sets
//                it just before the 32-bit tick wraps; then the list pacer runs
//   3 sweep      drops the clients silent for 24.6 s, as the sweeper does
//   4 window     the window catches up: handles every posted notice
//                (timeouts, forward connects, route releases), in order
//   5 clear      Clear clients (the window's list, the table and the route map)
//   6 probe      a port probe for slot selector, learnt port (2 LE)
//   7 messages   Clear Messages
// The window's steps (5, 6, 7) and the notices the relay sends run, as on the
// window's message queue, after every message queued before them.
// A name selector reads one of a few fixed names (empty, 31 and 32 bytes,
// case variants, control characters, bytes that are not UTF-8); 8..0xEF give
// "nN"; 0xF0 and above read 2 more bytes for "cN", so a sequence can log in
// hundreds of clients and make the "h" list longer than one UDP datagram.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "console/web/window_json.h"
#include "devicelink/device_register_writer.h"
#include "fuzz/fuzz_input_reader.h"
#include "platform/byte_order.h"
#include "platform/datagram_sender.h"
#include "platform/message_queue.h"
#include "platform/mutex.h"
#include "relay/client_table.h"
#include "relay/liveness_sweep.h"
#include "relay/relay_dispatcher.h"
#include "relay/relay_notices.h"
#include "relay/relay_packet.h"
#include "routes/forward_route_rows.h"
#include "routes/route_packets.h"
#include "routes/route_request_handler.h"
#include "routes/route_window_steps.h"
#include "server/server_parts.h"

namespace halvyn {
namespace {

using namespace relay_packet;

// The largest payload of one IPv4 UDP datagram.
constexpr size_t kMaxUdpPayload = 65507;

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "relay dispatch fuzzer: %s\n", what);
  std::abort();
}

using Reader = FuzzInputReader;

std::string NameOf(Reader& in) {
  static const std::string kNames[] = {
      "",
      "alpha",
      "Alpha",
      "beta",
      "abcdefghijklmnopqrstuvwxyz01234",                  // 31 bytes: the longest name
      "abcdefghijklmnopqrstuvwxyz0123456789",             // cut to 31 on receipt
      std::string("gamma\r\nfake(1.2.3.4:5)login.", 28),  // control characters
      "\xff\xfe\xc3(",                                    // not UTF-8
  };
  const uint8_t selector = in.Byte();
  if (selector < std::size(kNames)) return kNames[selector];
  if (selector < 0xF0) return "n" + std::to_string(selector);
  return "c" + std::to_string(in.Le16());
}

Ipv4Endpoint SourceOf(uint8_t selector) {
  if (selector == 0xFF) return {0, 0};
  return {NetworkAddress(198, 51, 100, uint8_t(1 + (selector & 3))),
          uint16_t(40000 + ((selector >> 2) & 7))};
}

// The relay socket: checks the form of every datagram the server sends.
class CheckingTransport final : public DatagramSender {
 public:
  bool SendTo(std::span<const uint8_t> datagram, Ipv4Endpoint destination) const override {
    ++sent;
    Check(datagram.size() >= kRecordFormSize, "a datagram shorter than a record");
    Check(datagram[0] == kMagic0 && datagram[1] == kMagic1, "a datagram without \"pr\"");
    const uint8_t letter = datagram[kCommandOffset];
    switch (letter) {
      case kLoginAccepted:
        Check(datagram.size() == kRecordFormSize, "\"g\" is not 120 bytes");
        Check(destination == loginSource, "\"g\" not sent back to the login's source");
        ++loginsAccepted;
        break;
      case kInfo:
        Check(datagram.size() == kRecordFormSize, "\"i\" is not 120 bytes");
        Check(datagram[kCountOffset] == 0, "\"i\" with a count byte");
        break;
      case kConnect: {
        Check(datagram.size() == kRecordFormSize, "a forwarded \"p\" is not 120 bytes");
        const auto clients = table->Snapshot();
        Check(std::any_of(clients.begin(), clients.end(),
                          [&](const ClientRecord& client) {
                            return destination == Ipv4Endpoint{client.ip(), client.port()};
                          }),
              "a \"p\" forwarded to no client's address");
        break;
      }
      case kClientList:
        CheckClientList(datagram);
        break;
      case route_packet::kTxReply:
      case route_packet::kRxReply:
      case route_packet::kTxRelease:
      case route_packet::kRxRelease:
        Check(datagram.size() == route_packet::kSize, "a route reply is not 228 bytes");
        break;
      default:
        Check(false, "the server sent a letter it never sends");
    }
    Check(datagram.size() <= kMaxUdpPayload || letter == kClientList,
          "a reply longer than one UDP datagram");
    return true;
  }

  // Every block of an "h" list has the header "prh" and the count modulo 256.
  // A broadcast sends one buffer to every client: checked once per buffer.
  void CheckClientList(std::span<const uint8_t> datagram) const {
    if (datagram.data() == lastList.data() && datagram.size() == lastList.size()) return;
    Check(datagram.size() % kRecordFormSize == 0, "an \"h\" list of partial records");
    const size_t n = datagram.size() / kRecordFormSize;
    Check(int(n) == table->count(), "an \"h\" list that is not the whole table");
    for (size_t k = 0; k < n; ++k) {
      const uint8_t* block = datagram.data() + k * kRecordFormSize;
      Check(block[0] == kMagic0 && block[1] == kMagic1 && block[2] == kClientList &&
                block[3] == uint8_t(n),
            "an \"h\" block with a wrong header");
    }
    lastList = datagram;
  }

  mutable size_t sent = 0;
  mutable int loginsAccepted = 0;
  mutable std::span<const uint8_t> lastList;
  Ipv4Endpoint loginSource;
  const ClientTable* table = nullptr;
};

// The window thread's message queue, run by hand on this one thread. It keeps
// the queue's order: a sent message (a notice the relay thread waits for, or
// an operator command) runs only after every message queued before it, so
// only posted messages ever wait, until the input lets the window catch up.
class FuzzWindow {
 public:
  void Post(std::function<void()> message) { posted_.push_back(std::move(message)); }
  template <typename Message>
  void Send(Message&& message) {
    RunPending();
    message();
    ++messagesRun;
  }
  void RunPending() {
    while (!posted_.empty()) {
      auto message = std::move(posted_.front());
      posted_.pop_front();
      message();
      ++messagesRun;
    }
  }

  // Every change of the table reaches the window as a message, so the window
  // and the table can only have drifted apart when messages ran.
  uint64_t messagesRun = 0;

 private:
  std::deque<std::function<void()>> posted_;
};

// The window's side of the relay notices, as WindowRelayNotices delivers them.
class FuzzWindowNotices final : public RelayNotices {
 public:
  FuzzWindowNotices(CHalvynDlg& dlg, FuzzWindow& window) : dlg_(dlg), window_(window) {}
  void SendClientLogin(const ClientRecord& record) override {
    ++logins;
    window_.Send([&] { dlg_.OnClientLogin(&record); });
  }
  void SendClientLogout(const ClientRecord& record) override {
    ++logouts;
    window_.Send([&] { dlg_.OnClientLogout(record, false); });
  }
  void PostClientTimeout(const ClientRecord& record) override {
    window_.Post([this, copy = record] { dlg_.OnClientLogout(copy, true); });
  }
  void PostForwardConnect() override {
    window_.Post([this] { dlg_.OnForwardConnect(); });
  }
  void SendClientInfo(const ClientRecord& record) override {
    ++infos;
    window_.Send([&] { dlg_.OnClientInfo(record); });
  }
  void PostLimitLine(std::string line) override {
    window_.Post([this, line = std::move(line)] { dlg_.AppendLog(line); });
  }

  int logins = 0;
  int logouts = 0;
  int infos = 0;

 private:
  CHalvynDlg& dlg_;
  FuzzWindow& window_;
};

// Hands "r" and "x" from the relay to the forward-route handler, as the
// window wires them together.
class RouteCommandsShim final : public RouteCommands {
 public:
  explicit RouteCommandsShim(RouteCommandHandler& handler) : handler_(handler) {}
  void HandleRouteRequest(std::span<const uint8_t> packet, Ipv4Endpoint source,
                          const DatagramSender& relaySocket) override {
    handler_.HandleRouteRequest(packet, source, relaySocket);
  }
  void HandleRouteRelease(std::span<const uint8_t> packet, Ipv4Endpoint source,
                          const DatagramSender& relaySocket) override {
    handler_.HandleRouteRelease(packet, source, relaySocket);
  }

 private:
  RouteCommandHandler& handler_;
};

class NullDeviceWriter final : public DeviceRegisterWriter {
 public:
  void WriteDeviceRegisters(uint32_t, uint16_t, std::span<const uint8_t>) override {}
};

class NoListeners final : public PortLearningStarter {
 public:
  void StartPortLearning(uint16_t) override {}
};

class StepClock final : public TickClock {
 public:
  uint32_t Now() const override { return now; }
  uint32_t now = 1000;
};

// The table: unique names of at most 31 bytes, no more records than room.
void CheckTable(const ClientTable& table) {
  const std::vector<ClientRecord> records = table.Snapshot();
  Check(int(records.size()) == table.count(), "count differs from the records");
  Check(table.count() <= table.capacity(), "more records than capacity");
  std::unordered_set<std::string_view> names;
  for (const ClientRecord& record : records) {
    Check(record.name().size() <= 31, "a stored name longer than 31 bytes");
    Check(names.insert(record.name()).second, "two records with one name");
  }
}

// The cheap part of CheckTable, after every change: the newest record, the room.
void CheckTableChange(const ClientTable& table, int added) {
  Check(table.count() <= table.capacity(), "more records than capacity");
  if (added <= 0) return;
  const auto newest = table.At(table.count() - 1);
  Check(newest.has_value() && newest->name().size() <= 31, "a stored name longer than 31 bytes");
  const auto found = table.Find(newest->name());
  Check(found.has_value() && *found == *newest, "a new name is stored twice");
}

void CheckRouteState(const RouteState& state) {
  if (const auto fault = FindRouteStateFault(state.Snapshot())) {
    std::fprintf(stderr, "relay dispatch fuzzer: %s\n", fault->c_str());
    std::abort();
  }
}

// Once the window has handled every notice, it lists exactly the table's clients.
void CheckListMatchesTable(const ClientTable& table, const CHalvynDlg& dlg) {
  std::vector<std::string> tableNames;
  for (const ClientRecord& record : table.Snapshot()) tableNames.emplace_back(record.name());
  std::vector<std::string> listed = dlg.View(false).remoteDevices;
  std::sort(tableNames.begin(), tableNames.end());
  std::sort(listed.begin(), listed.end());
  Check(listed == tableNames, "the remote-device list differs from the client table");
}

std::vector<uint8_t> CommandDatagram(Reader& in, Ipv4Endpoint& source) {
  static constexpr char kLetters[] = "efikprxghw";
  const uint8_t letterSelector = in.Byte();
  const uint8_t letter = letterSelector < 200 ? uint8_t(kLetters[letterSelector % 10]) : in.Byte();
  const std::string name = NameOf(in);
  std::vector<uint8_t> packet(kRecordFormSize, 0);
  WriteHeader(std::span(packet).first<relay_packet::kHeaderSize>(), letter, 0);
  // The name field as the client wrote it: up to 32 bytes, maybe without a zero.
  std::copy_n(name.begin(), std::min<size_t>(name.size(), client_record::kNameCapacity),
              packet.begin() + kRecordOffset);
  StoreNetworkAddress(&packet[kRecordOffset + client_record::kP2pIpOffset],
                      NetworkAddress(10, 0, 0, in.Byte()));
  StoreLe16(&packet[kRecordOffset + client_record::kP2pPortOffset], in.Le16());
  source = SourceOf(in.Byte());
  if (letter == kConnect) {
    const std::string target = NameOf(in);
    const bool terminated = (in.Byte() & 1) == 0;
    packet.insert(packet.end(), target.begin(), target.end());
    if (terminated) packet.push_back(0);
  } else if (letter == kRouteRequest) {
    static constexpr size_t kLengths[] = {route_packet::kSize, 200, 227, 300};
    const size_t length = kLengths[in.Byte() % 4];
    CRouteInfo body;
    body.set_tx_name(name);
    body.set_rx_name(NameOf(in));
    body.set_tx_ip(source.address);
    body.set_tx_port(source.port);
    body.set_rx_ip(NetworkAddress(203, 0, 113, 9));
    body.set_rx_port(6000);
    const uint8_t counts = in.Byte();
    body.set_tx_chan_count(counts % 10);
    body.set_rx_chan_count(counts / 10 % 10);
    packet.resize(std::max(length, route_packet::kSize), 0);
    body.WriteTo(std::span(packet).subspan<route_packet::kBodyOffset, route_info::kSize>());
    packet.resize(length);
  } else if (letter == kRouteRelease) {
    const uint16_t slotPort = uint16_t(kFirstSlotPort - 1 + in.Byte() % 34);
    packet.resize(kRecordFormSize + in.Byte() % 8, 0);
    if (packet.size() >= kRecordFormSize + 2)
      StoreLe16(&packet[route_packet::kBodyOffset], slotPort);
  }
  return packet;
}

void RunSequence(const uint8_t* data, size_t size) {
  Reader in(data, size);
  WindowMessageQueue window;
  window.BindToCurrentThread();
  StepClock clock;
  ServerParts parts(window, clock, {});
  ClientTable& table = parts.clientTable();
  CHalvynDlg& dlg = parts.window();
  FuzzWindow fuzzWindow;
  FuzzWindowNotices notices(dlg, fuzzWindow);

  Mutex clientTableLock;
  NullDeviceWriter writer;
  RouteProgrammer programmer(writer, [](uint32_t) {});
  RouteState routeState;
  NoListeners listeners;
  SelectedRouteDevice device;
  ForwardRouteRows rows;
  const ClientLookup lookupOnRelayThread =
      [&](std::string_view name) -> std::optional<Ipv4Endpoint> {
    MutexLock lock(clientTableLock);
    const auto record = table.Find(name);
    if (!record) return std::nullopt;
    return Ipv4Endpoint{record->ip(), record->port()};
  };
  const ClientLookup lookupOnWindowThread =
      [&](std::string_view name) -> std::optional<Ipv4Endpoint> {
    const auto record = table.Find(name);
    if (!record) return std::nullopt;
    return Ipv4Endpoint{record->ip(), record->port()};
  };
  int routeReleasesRun = 0;
  uint64_t listCheckedAt = 0;  // messagesRun when the list was last compared
  RouteCounters routeCounters;
  RelayCounters relayCounters;
  RouteRequestHandler routeHandler(
      routeState, programmer, listeners, lookupOnRelayThread,
      [&](RouteSlot slot) {
        fuzzWindow.Post([&, slot] {
          ++routeReleasesRun;
          if (ReleaseRouteSlot(slot, routeState, programmer, device.address))
            rows.RemoveRouteRow(slot);
        });
      },
      routeCounters, relayCounters);
  RouteCommandsShim routes(routeHandler);
  CheckingTransport transport;
  transport.table = &table;
  // Small limits, so that sequences reach them: four source addresses, a few
  // names each, and lists paced on the fake clock (the clock step runs the pacer).
  const RelayLimits limits{.datagramsPerIp = 50,
                           .namesPerIp = 8,
                           .bytesPerIp = 20000,
                           .listBytesPerSecond = 100000,
                           .routesFromClientsOnly = false,
                           .receiveBufferBytes = 0};
  RelayDefences defences(table, transport, notices, clock, limits, relayCounters);
  RelayDispatcher dispatcher(table, clientTableLock, transport, notices, &routes, clock,
                             relayCounters, &defences);

  std::vector<uint8_t> datagram;
  for (int step = 0; step < 4000 && !in.done(); ++step) {
    const int countBefore = table.count();
    const int loginsBefore = notices.logins;
    const int logoutsBefore = notices.logouts;
    const int acceptedBefore = transport.loginsAccepted;
    const uint64_t logBefore = dlg.messageLog().end();
    const int infosBefore = notices.infos;
    bool handledDatagram = false;
    // The invariants are checked after the steps that may break them.
    bool tableMayChange = false;
    bool routesMayChange = false;
    const int releasesBefore = routeReleasesRun;
    Ipv4Endpoint source;

    switch (in.Byte() % 8) {
      case 0: {
        source = SourceOf(in.Byte());
        const size_t length = std::min<size_t>(in.Le16(), kReceiveBufferSize);
        const auto bytes = in.Bytes(length);
        datagram.assign(bytes.begin(), bytes.end());
        handledDatagram = true;
        break;
      }
      case 1:
        datagram = CommandDatagram(in, source);
        handledDatagram = true;
        break;
      case 2: {
        const uint16_t units = in.Le16();
        clock.now = units == 0xFFFF ? 0xFFFFFFFFu - 1000 : clock.now + 16u * units;
        defences.lists().SendDue();  // lists merged meanwhile, and owed ones
        break;
      }
      case 3:
        tableMayChange = true;
        SweepSilentClients(table, clientTableLock, notices, relayCounters, clock.Now());
        Check(notices.logins == loginsBefore && notices.logouts == logoutsBefore,
              "the sweep sent a notice it must post");
        break;
      case 4:
        fuzzWindow.RunPending();
        if (fuzzWindow.messagesRun != listCheckedAt) {
          CheckTable(table);
          CheckListMatchesTable(table, dlg);
          listCheckedAt = fuzzWindow.messagesRun;
        }
        break;
      case 5:
        tableMayChange = routesMayChange = true;
        fuzzWindow.Send([&] {
          dlg.OnClearClients();
          routeState.ClearRouteMap();
        });
        Check(table.count() == 0, "Clear clients left clients");
        break;
      case 6: {
        const uint16_t slotPort = uint16_t(kFirstSlotPort - 1 + in.Byte() % 34);
        const uint16_t learntPort = in.Le16();
        fuzzWindow.Send([&] {
          if (const auto row = ActivateRoute(slotPort, learntPort, routeState, programmer, device,
                                             lookupOnWindowThread))
            rows.AddRouteRow(*row);
        });
        break;
      }
      case 7:
        fuzzWindow.Send([&] { dlg.OnClearMessages(); });
        break;
    }

    if (handledDatagram) {
      transport.loginSource = source;
      transport.lastList = {};
      const bool accepted = IsAccepted(datagram);
      const uint8_t letter = accepted ? datagram[kCommandOffset] : 0;
      tableMayChange = letter == kLogin || letter == kLogout;
      const size_t sentBefore = transport.sent;
      dispatcher.Handle(datagram, source);
      // Only a request that was answered can have allocated.
      routesMayChange = letter == kRouteRequest && transport.sent != sentBefore;
      const int added = table.count() - countBefore;
      const int logins = notices.logins - loginsBefore;
      const int logouts = notices.logouts - logoutsBefore;
      if (!accepted) Check(transport.sent == sentBefore, "an unaccepted datagram got an answer");
      if (letter == kLogin) {
        Check(added == 0 || added == 1, "one login added several clients");
        Check(logins == added && transport.loginsAccepted - acceptedBefore == added,
              "a login's \"g\" or notice differs from the table");
      } else if (letter == kLogout) {
        Check(added == 0 || added == -1, "one logout removed several clients");
        Check(logouts == -added, "a logout notice differs from the table");
      } else {
        Check(added == 0, "a datagram other than \"e\" or \"f\" changed the client count");
      }
      Check(letter == kLogin || logins == 0, "a login notice for another letter");
      Check(letter == kLogout || logouts == 0, "a logout notice for another letter");
      const int sentNotices = notices.logins - loginsBefore + notices.logouts - logoutsBefore +
                              notices.infos - infosBefore;
      Check(sentNotices <= 1, "one datagram sent several notices");
      if (sentNotices == 1) {
        const std::string& log = dlg.messageLog().text();
        Check(dlg.messageLog().end() > logBefore && log.ends_with("\r\n"),
              "a notice logged no line");
      }
    }

    if (tableMayChange) CheckTableChange(table, table.count() - countBefore);
    if (routesMayChange || routeReleasesRun != releasesBefore) CheckRouteState(routeState);
  }

  fuzzWindow.RunPending();
  CheckTable(table);
  CheckRouteState(routeState);
  CheckListMatchesTable(table, dlg);
  // The window as the console sends it, with whatever bytes the names carried.
  const std::string json =
      WindowJson(dlg.View()).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  Check(!json.empty(), "no window JSON");
}

}  // namespace
}  // namespace halvyn

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0) halvyn::RunSequence(data, size);
  return 0;
}
