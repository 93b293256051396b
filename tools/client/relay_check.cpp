#include "tools/client/relay_check.h"

#include <chrono>
#include <cstdio>
#include <optional>
#include <random>
#include <vector>

#include "relay/relay_client_codec.h"
#include "relay/relay_packet.h"
#include "tools/client/datagram_text.h"

namespace halvyn {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kReceiveBufferSize = 65536;

std::string Milliseconds(Clock::duration elapsed) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f ms",
                std::chrono::duration<double, std::milli>(elapsed).count());
  return text;
}

class CheckRun {
 public:
  CheckRun(UdpSocket& socket, const RelayCheckOptions& options, LineOutput& out)
      : socket_(socket), options_(options), out_(out), buffer_(kReceiveBufferSize) {
    self_.set_name(options.name);
  }

  bool Run() {
    out_.Print("check server=" + EndpointText(options_.server) +
               " name=" + FieldText(options_.name));
    if (Login()) {
      if (Send(BuildRecordPacket(relay_packet::kKeepAlive, self_))) {
        Pass("keepalive sent");
      } else {
        Fail("keepalive", SendFailure());
      }
      Connect();
      if (Send(BuildRecordPacket(relay_packet::kLogout, self_))) {
        Pass("logout sent");
      } else {
        Fail("logout", SendFailure());
      }
    } else {
      Send(BuildRecordPacket(relay_packet::kLogout, self_));
    }
    out_.Print(firstFailure_ ? "FAIL: " + *firstFailure_ : "OK");
    return !firstFailure_;
  }

 private:
  // "g" for our name and an "h" list that shows it, both within one time limit.
  bool Login() {
    const Clock::time_point sent = Clock::now();
    if (!Send(BuildRecordPacket(relay_packet::kLogin, self_))) {
      Fail("login", SendFailure());
      return false;
    }
    const Clock::time_point deadline = sent + Limit();
    std::optional<Clock::time_point> accepted, listed;
    Ipv4Endpoint seenAs;
    size_t listCount = 0;
    while (!(accepted && listed)) {
      const auto datagram = ReceiveBefore(deadline);
      if (!datagram) break;
      const uint8_t letter = (*datagram)[relay_packet::kCommandOffset];
      if (letter == relay_packet::kLoginAccepted && !accepted &&
          RecordAt(*datagram, 0).name() == options_.name) {
        accepted = Clock::now();
        seenAs = {RecordAt(*datagram, 0).ip(), RecordAt(*datagram, 0).port()};
      } else if (letter == relay_packet::kClientList && !listed) {
        const size_t count = ClientListView(*datagram).size();
        for (size_t k = 0; k < count; ++k) {
          if (RecordAt(*datagram, k).name() == options_.name) {
            listed = Clock::now();
            listCount = count;
          }
        }
      }
    }
    if (!accepted) {
      Fail("login", interrupted_ ? "interrupted"
                                 : "no answer to the login from " + EndpointText(options_.server) +
                                       " within " + LimitText() +
                                       " (is the relay running and its UDP port reachable?)");
      return false;
    }
    Pass("login " + Milliseconds(*accepted - sent) + " seen_as=" + EndpointText(seenAs));
    if (listed) {
      Pass("list " + Milliseconds(*listed - sent) + " count=" + std::to_string(listCount));
    } else {
      Fail("list", interrupted_ ? "interrupted"
                                : "no client list showing " + FieldText(options_.name) +
                                      " within " + LimitText());
    }
    return true;
  }

  // A connect request to ourselves comes back from the relay as our own "p".
  void Connect() {
    const Clock::time_point sent = Clock::now();
    if (!Send(BuildConnectRequest(self_, options_.name))) {
      Fail("connect", SendFailure());
      return;
    }
    const Clock::time_point deadline = sent + Limit();
    while (const auto datagram = ReceiveBefore(deadline)) {
      if ((*datagram)[relay_packet::kCommandOffset] == relay_packet::kConnect &&
          RecordAt(*datagram, 0).name() == options_.name) {
        Pass("connect " + Milliseconds(Clock::now() - sent));
        return;
      }
    }
    Fail("connect",
         interrupted_ ? "interrupted"
                      : "the connect request to ourselves did not come back within " + LimitText());
  }

  bool Send(const Datagram& datagram) {
    if (options_.verbose) out_.Print(DescribeDatagram(Direction::kSent, datagram, options_.server));
    return socket_.SendTo(datagram, options_.server);
  }

  // The next "pr" datagram before the deadline; nothing at the deadline or
  // once the socket is closed.
  std::optional<std::vector<uint8_t>> ReceiveBefore(Clock::time_point deadline) {
    while (!interrupted_) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0 || !socket_.WaitReadable(int(left))) return std::nullopt;
      const ReceiveResult result = socket_.ReceiveNow(buffer_);
      if (result.status == ReceiveResult::Status::kClosed) {
        interrupted_ = true;
        return std::nullopt;
      }
      if (result.status != ReceiveResult::Status::kDatagram) continue;
      const std::span<const uint8_t> datagram(buffer_.data(), result.size);
      if (options_.verbose)
        out_.Print(DescribeDatagram(Direction::kReceived, datagram, result.source));
      if (relay_packet::IsAccepted(datagram))
        return std::vector<uint8_t>(datagram.begin(), datagram.end());
    }
    return std::nullopt;
  }

  // datagram is a relay packet (ReceiveBefore takes no other), so block 0 is there.
  static ClientRecord RecordAt(const std::vector<uint8_t>& datagram, size_t block) {
    return ClientListView(datagram).record(block);
  }

  void Pass(const std::string& text) { out_.Print("PASS " + text); }
  void Fail(const std::string& step, const std::string& reason) {
    out_.Print("FAIL " + step + " " + reason);
    if (!firstFailure_) firstFailure_ = reason;
  }
  std::string SendFailure() const { return "could not send to " + EndpointText(options_.server); }
  std::chrono::milliseconds Limit() const {
    return std::chrono::milliseconds(options_.stepTimeoutMs);
  }
  std::string LimitText() const { return std::to_string(options_.stepTimeoutMs) + " ms"; }

  UdpSocket& socket_;
  const RelayCheckOptions& options_;
  LineOutput& out_;
  ClientRecord self_;
  std::vector<uint8_t> buffer_;
  bool interrupted_ = false;
  std::optional<std::string> firstFailure_;
};

}  // namespace

bool RunRelayCheck(UdpSocket& socket, const RelayCheckOptions& options, LineOutput& out) {
  return CheckRun(socket, options, out).Run();
}

std::string TemporaryCheckName() {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::random_device random;
  std::string name = "check-";
  for (int i = 0; i < 8; ++i) name += kDigits[random() % 16];
  return name;
}

}  // namespace halvyn
