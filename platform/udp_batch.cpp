#include "platform/udp_batch.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>

#include "platform/sockaddr_ipv4.h"

namespace halvyn {

namespace {

// Errors that refuse one datagram but leave the socket usable for the next.
bool RefusesOnlyThisDatagram(int error) {
  return error != EAGAIN && error != EWOULDBLOCK && error != EBADF && error != ENOTSOCK &&
         error != EPIPE;
}

}  // namespace

size_t SendEach(const UdpSocket& socket, std::span<const OutgoingDatagram> datagrams,
                bool nonBlocking) {
  if (!socket.valid()) return 0;
  const int flags = MSG_NOSIGNAL | (nonBlocking ? MSG_DONTWAIT : 0);
  std::array<mmsghdr, kSendBatchSize> headers;
  std::array<iovec, kSendBatchSize> pieces;
  std::array<sockaddr_in, kSendBatchSize> addresses;
  size_t sent = 0;
  size_t next = 0;
  while (next < datagrams.size()) {
    const size_t n = std::min(kSendBatchSize, datagrams.size() - next);
    for (size_t i = 0; i < n; ++i) {
      const OutgoingDatagram& datagram = datagrams[next + i];
      addresses[i] = ToSockaddr(datagram.destination);
      pieces[i] = {const_cast<uint8_t*>(datagram.bytes.data()), datagram.bytes.size()};
      headers[i] = {};
      headers[i].msg_hdr.msg_name = &addresses[i];
      headers[i].msg_hdr.msg_namelen = sizeof addresses[i];
      headers[i].msg_hdr.msg_iov = &pieces[i];
      headers[i].msg_hdr.msg_iovlen = 1;
    }
    const int done = ::sendmmsg(socket.fd(), headers.data(), unsigned(n), flags);
    if (done > 0) {
      sent += size_t(done);
      next += size_t(done);
      continue;
    }
    const int error = done < 0 ? errno : EAGAIN;
    if (error == EINTR) continue;
    if (!RefusesOnlyThisDatagram(error)) break;
    ++next;  // the first datagram of this call was refused: skip it, as SendTo would
  }
  return sent;
}

struct ReceiveBatch::Headers {
  explicit Headers(size_t capacity) : messages(capacity), pieces(capacity), sources(capacity) {}
  std::vector<mmsghdr> messages;
  std::vector<iovec> pieces;
  std::vector<sockaddr_in> sources;
};

ReceiveBatch::ReceiveBatch(size_t capacity, size_t datagramSize, Oversized oversized)
    : capacity_(capacity),
      datagramSize_(datagramSize),
      oversized_(oversized),
      storage_(capacity * datagramSize),
      headers_(std::make_unique<Headers>(capacity)) {
  Headers& h = *headers_;
  for (size_t i = 0; i < capacity_; ++i) {
    h.pieces[i] = {storage_.data() + i * datagramSize_, datagramSize_};
    h.messages[i] = {};
    h.messages[i].msg_hdr.msg_name = &h.sources[i];
    h.messages[i].msg_hdr.msg_iov = &h.pieces[i];
    h.messages[i].msg_hdr.msg_iovlen = 1;
  }
}

ReceiveBatch::~ReceiveBatch() = default;

BatchReceiveResult ReceiveBatch::Receive(const UdpSocket& socket, bool wait) {
  BatchReceiveResult result;
  if (!socket.valid() || socket.closed()) {
    result.status = ReceiveResult::Status::kClosed;
    return result;
  }
  Headers& h = *headers_;
  // The kernel writes back each source's length; everything else stays set.
  for (size_t i = 0; i < capacity_; ++i) h.messages[i].msg_hdr.msg_namelen = sizeof h.sources[i];
  const int flags = MSG_TRUNC | (wait ? MSG_WAITFORONE : MSG_DONTWAIT);
  const int n = ::recvmmsg(socket.fd(), h.messages.data(), unsigned(capacity_), flags, nullptr);
  // A shutdown makes recvmmsg return at once; the flag tells it from real datagrams.
  if (socket.closed()) {
    result.status = ReceiveResult::Status::kClosed;
    return result;
  }
  if (n < 0) {
    result.error = errno;
    return result;
  }
  if (n == 0) {  // only a shutdown ends a wait without a datagram
    result.status = ReceiveResult::Status::kClosed;
    return result;
  }
  kept_.clear();
  for (size_t i = 0; i < size_t(n); ++i) {
    const bool cut = (h.messages[i].msg_hdr.msg_flags & MSG_TRUNC) != 0;
    if (cut && oversized_ == Oversized::kDiscard)
      ++result.oversized;
    else
      kept_.push_back(i);
  }
  result.status = ReceiveResult::Status::kDatagram;
  result.count = kept_.size();
  return result;
}

std::span<uint8_t> ReceiveBatch::bytes(size_t i) {
  const size_t message = kept_[i];
  const size_t stored = std::min<size_t>(headers_->messages[message].msg_len, datagramSize_);
  return {storage_.data() + message * datagramSize_, stored};
}

size_t ReceiveBatch::length(size_t i) const {
  return headers_->messages[kept_[i]].msg_len;
}

bool ReceiveBatch::truncated(size_t i) const {
  return (headers_->messages[kept_[i]].msg_hdr.msg_flags & MSG_TRUNC) != 0;
}

Ipv4Endpoint ReceiveBatch::source(size_t i) const {
  return FromSockaddr(headers_->sources[kept_[i]]);
}

}  // namespace halvyn
