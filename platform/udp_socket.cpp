#include "platform/udp_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "platform/sockaddr_ipv4.h"
#include "platform/udp_batch.h"

namespace halvyn {

UdpSocket::UdpSocket() {
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (fd_ < 0) openError_ = errno;
}

UdpSocket::~UdpSocket() {
  if (fd_ >= 0) ::close(fd_);
}

int UdpSocket::Bind(Ipv4Endpoint local, bool reuseAddress) {
  if (fd_ < 0) return openError_;
  if (reuseAddress) {
    int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  }
  sockaddr_in address = ToSockaddr(local);
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return errno;
  return 0;
}

Ipv4Endpoint UdpSocket::LocalEndpoint() const {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
  return FromSockaddr(address);
}

bool UdpSocket::SendTo(std::span<const uint8_t> datagram, Ipv4Endpoint destination) const {
  if (fd_ < 0) return false;
  sockaddr_in address = ToSockaddr(destination);
  const ssize_t sent = ::sendto(fd_, datagram.data(), datagram.size(), MSG_NOSIGNAL,
                                reinterpret_cast<sockaddr*>(&address), sizeof address);
  return sent == ssize_t(datagram.size());
}

size_t UdpSocket::SendToEach(std::span<const uint8_t> datagram,
                             std::span<const Ipv4Endpoint> destinations) const {
  std::array<OutgoingDatagram, kSendBatchSize> batch;
  size_t sent = 0;
  for (size_t next = 0; next < destinations.size(); next += kSendBatchSize) {
    const size_t n = std::min(kSendBatchSize, destinations.size() - next);
    for (size_t i = 0; i < n; ++i) batch[i] = {datagram, destinations[next + i]};
    sent += SendEach(*this, std::span(batch).first(n));
  }
  return sent;
}

ReceiveResult UdpSocket::ReceiveWithFlags(std::span<uint8_t> buffer, int flags) const {
  ReceiveResult result;
  if (fd_ < 0 || closed()) {
    result.status = ReceiveResult::Status::kClosed;
    return result;
  }
  sockaddr_in source{};
  socklen_t length = sizeof source;
  const ssize_t n = ::recvfrom(fd_, buffer.data(), buffer.size(), flags | MSG_TRUNC,
                               reinterpret_cast<sockaddr*>(&source), &length);
  // A shutdown makes recvfrom return at once; the flag tells it from a real datagram.
  if (closed()) {
    result.status = ReceiveResult::Status::kClosed;
    return result;
  }
  if (n < 0) {
    result.error = errno;
    return result;
  }
  result.status = size_t(n) > buffer.size() ? ReceiveResult::Status::kOversized
                                            : ReceiveResult::Status::kDatagram;
  result.size = size_t(n);
  result.source = FromSockaddr(source);
  return result;
}

ReceiveResult UdpSocket::Receive(std::span<uint8_t> buffer) const {
  return ReceiveWithFlags(buffer, 0);
}

ReceiveResult UdpSocket::ReceiveNow(std::span<uint8_t> buffer) const {
  return ReceiveWithFlags(buffer, MSG_DONTWAIT);
}

bool UdpSocket::WaitReadable(int timeoutMs) const {
  if (fd_ < 0 || closed()) return true;
  pollfd entry{fd_, POLLIN, 0};
  const int ready = ::poll(&entry, 1, timeoutMs);
  return ready > 0 || closed();
}

int UdpSocket::SetReceiveBufferSize(int bytes) {
  if (fd_ < 0) return openError_;
  return ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0 ? 0 : errno;
}

int UdpSocket::RequestReceiveBufferSize(int bytes) {
  if (fd_ < 0) return 0;
  if (::setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0)
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
  int granted = 0;
  socklen_t length = sizeof granted;
  return ::getsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &granted, &length) == 0 ? granted : 0;
}

int UdpSocket::SetMulticastTtl(int ttl) {
  if (fd_ < 0) return openError_;
  return ::setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) == 0 ? 0 : errno;
}

int UdpSocket::JoinGroup(uint32_t group, uint32_t interfaceAddress) {
  if (fd_ < 0) return openError_;
  ip_mreq request{};
  request.imr_multiaddr.s_addr = group;
  request.imr_interface.s_addr = interfaceAddress;
  return ::setsockopt(fd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) == 0 ? 0
                                                                                         : errno;
}

int UdpSocket::DropGroup(uint32_t group, uint32_t interfaceAddress) {
  if (fd_ < 0) return openError_;
  ip_mreq request{};
  request.imr_multiaddr.s_addr = group;
  request.imr_interface.s_addr = interfaceAddress;
  return ::setsockopt(fd_, IPPROTO_IP, IP_DROP_MEMBERSHIP, &request, sizeof request) == 0 ? 0
                                                                                          : errno;
}

void UdpSocket::Close() {
  if (closed_.exchange(true, std::memory_order_acq_rel)) return;
  // On an unconnected UDP socket shutdown reports ENOTCONN but still marks it
  // shut and wakes every waiter; that is all it is used for here.
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

}  // namespace halvyn
