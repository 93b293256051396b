#include "platform/tcp_listener.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/sockaddr_ipv4.h"

namespace halvyn {

int OpenTcpListener(Ipv4Endpoint local, int backlog, std::string& error, int* errorCode) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = std::strerror(errno);
    if (errorCode) *errorCode = errno;
    return -1;
  }
  const int on = 1;
  const sockaddr_in address = ToSockaddr(local);
  if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd, backlog) != 0) {
    error = std::strerror(errno);
    if (errorCode) *errorCode = errno;
    close(fd);
    return -1;
  }
  return fd;
}

bool SomethingListens(Ipv4Endpoint endpoint) {
  if (endpoint.address == 0) endpoint.address = htonl(INADDR_LOOPBACK);
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const sockaddr_in address = ToSockaddr(endpoint);
  const bool accepted =
      connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return accepted;
}

void CloseListener(int fd) {
  close(fd);
}

void ShutdownConnection(int fd) {
  // ENOTCONN when the peer has gone already: the owner closes it either way.
  (void)shutdown(fd, SHUT_RDWR);
}

}  // namespace halvyn
