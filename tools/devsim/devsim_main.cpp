// halvyn-devsim: a simulated LAN audio device for tests, demos and people
// without hardware. Single-threaded: one loop announces at its interval,
// applies each datagram from the register port to the register image, and
// reacts to signals between waits.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "devicelink/device_announcement_builder.h"
#include "platform/tick_count.h"
#include "platform/udp_socket.h"
#include "tools/devsim/devsim_options.h"
#include "tools/devsim/register_image.h"

namespace {

using namespace halvyn;
using namespace halvyn::devsim;

volatile std::sig_atomic_t stopRequested = 0;
volatile std::sig_atomic_t dumpRequested = 0;

// Bounds how late a signal is noticed while no datagram arrives.
constexpr int kLongestWaitMs = 100;
constexpr size_t kReceiveBufferSize = 2048;

void OnStopSignal(int) {
  stopRequested = 1;
}
void OnDumpSignal(int) {
  dumpRequested = 1;
}

const char* KindText(AppliedDatagram::Kind kind) {
  switch (kind) {
    case AppliedDatagram::Kind::kBlockWrite:
      return "write";
    case AppliedDatagram::Kind::kSetup:
      return "setup";
    case AppliedDatagram::Kind::kUnknown:
      break;
  }
  return "unknown";
}

std::string Hex(std::span<const uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 0x0F];
  }
  return text;
}

std::string EndpointText(Ipv4Endpoint endpoint) {
  return DottedText(endpoint.address) + ":" + std::to_string(endpoint.port);
}

// Written to a temporary file and renamed, so a reader never sees half an image.
bool WriteDumpFile(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream file(temporary, std::ios::trunc);
    file << text;
    if (!file.flush()) return false;
  }
  return std::rename(temporary.c_str(), path.c_str()) == 0;
}

void PrintDatagramLine(Ipv4Endpoint source, const AppliedDatagram& applied,
                       std::span<const uint8_t> datagram) {
  char registerText[8];
  std::snprintf(registerText, sizeof registerText, "0x%04X", applied.firstRegister);
  // Data: a write's block after its 12-byte header, the entries of a set-up
  // datagram after "veltrw", or the whole datagram when it is not understood.
  size_t dataAt = 0;
  size_t length = datagram.size();
  if (applied.kind == AppliedDatagram::Kind::kBlockWrite) {
    dataAt = std::min<size_t>(12, datagram.size());
    length = applied.length;
  } else if (applied.kind == AppliedDatagram::Kind::kSetup) {
    dataAt = 6;
    length = applied.length;
  }
  std::printf("rx %s %s register=%s length=%zu data=%s%s\n", EndpointText(source).c_str(),
              KindText(applied.kind), registerText, length, Hex(datagram.subspan(dataAt)).c_str(),
              applied.malformed ? " malformed" : "");
  std::fflush(stdout);
}

int Run(const DevsimOptions& options) {
  UdpSocket listener;
  if (const int error = listener.Bind(options.listen); error != 0) {
    std::fprintf(stderr, "halvyn-devsim: cannot bind %s: %s\n",
                 EndpointText(options.listen).c_str(), std::strerror(error));
    return 1;
  }
  UdpSocket announcer;
  // Bound to a local address, multicast leaves through that address's interface.
  if (options.sourceAddress != 0) {
    if (const int error = announcer.Bind({options.sourceAddress, 0}); error != 0) {
      std::fprintf(stderr, "halvyn-devsim: cannot use interface %s: %s\n",
                   DottedText(options.sourceAddress).c_str(), std::strerror(error));
      return 1;
    }
  }
  const DeviceAnnouncement announcement = BuildDeviceAnnouncement(options.announcement);

  RegisterImage image;
  uint64_t datagrams = 0;
  if (!options.dumpFile.empty() && !WriteDumpFile(options.dumpFile, image.DumpText(datagrams))) {
    std::fprintf(stderr, "halvyn-devsim: cannot write %s\n", options.dumpFile.c_str());
    return 1;
  }
  std::printf("halvyn-devsim: listening on %s", EndpointText(listener.LocalEndpoint()).c_str());
  if (options.announce)
    std::printf(", announcing to %s every %u ms", EndpointText(options.announceTo).c_str(),
                options.intervalMs);
  std::printf("\n");
  std::fflush(stdout);

  std::vector<uint8_t> buffer(kReceiveBufferSize);
  uint32_t nextAnnouncement = TickCount();
  bool announceFailureShown = false;
  while (!stopRequested) {
    int waitMs = kLongestWaitMs;
    if (options.announce) {
      const uint32_t now = TickCount();
      if (int32_t(now - nextAnnouncement) >= 0) {
        if (!announcer.SendTo(announcement, options.announceTo) && !announceFailureShown) {
          std::fprintf(stderr, "halvyn-devsim: announcement to %s could not be sent\n",
                       EndpointText(options.announceTo).c_str());
          announceFailureShown = true;
        }
        nextAnnouncement = now + options.intervalMs;
      }
      waitMs = std::min<int>(waitMs, int(nextAnnouncement - TickCount()));
      if (waitMs < 0) waitMs = 0;
    }
    if (listener.WaitReadable(waitMs)) {
      const ReceiveResult received = listener.ReceiveNow(buffer);
      if (received.status == ReceiveResult::Status::kDatagram) {
        const std::span<const uint8_t> datagram(buffer.data(), received.size);
        const AppliedDatagram applied = image.Apply(datagram);
        ++datagrams;
        if (!options.quiet) PrintDatagramLine(received.source, applied, datagram);
        if (!options.dumpFile.empty()) WriteDumpFile(options.dumpFile, image.DumpText(datagrams));
      }
    }
    if (dumpRequested) {
      dumpRequested = 0;
      std::printf("%s", image.DumpText(datagrams).c_str());
      std::fflush(stdout);
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  std::string error;
  const std::optional<DevsimOptions> options = ParseDevsimOptions(arguments, error);
  if (!options) {
    std::fprintf(stderr, "halvyn-devsim: %s\n%s", error.c_str(), kDevsimUsage);
    return 2;
  }
  if (options->help) {
    std::printf("%s", kDevsimUsage);
    return 0;
  }
  std::signal(SIGTERM, OnStopSignal);
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGUSR1, OnDumpSignal);
  return Run(*options);
}
