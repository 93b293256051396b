#include "platform/socket_readable_notifier.h"

namespace halvyn {

SocketReadableNotifier::SocketReadableNotifier(const UdpSocket& socket,
                                               std::function<void()> onReadable)
    : socket_(socket), onReadable_(std::move(onReadable)) {}

SocketReadableNotifier::~SocketReadableNotifier() {
  Stop();
}

bool SocketReadableNotifier::Start() {
  if (!wake_.valid() || worker_.started()) return false;
  armed_.store(true);
  wake_.Clear();  // a wake-up left by an earlier Stop
  return worker_.Start([this](std::stop_token stop) { Loop(stop); }, [this] { wake_.Wake(); });
}

void SocketReadableNotifier::Rearm() {
  armed_.store(true);
  wake_.Wake();
}

void SocketReadableNotifier::Stop() {
  worker_.RequestStop();
  worker_.Join();
}

void SocketReadableNotifier::Loop(const std::stop_token& stop) {
  // The stop and the arming are set before the wake and read after Clear, so
  // no request is lost.
  while (!stop.stop_requested()) {
    if (!armed_.load()) {
      if (wake_.WaitForWake(-1) == ReadableOrWakeup::Result::kError) return;
      wake_.Clear();
      continue;
    }
    switch (wake_.Wait(socket_, -1)) {
      case ReadableOrWakeup::Result::kWoken:
        wake_.Clear();
        break;
      case ReadableOrWakeup::Result::kReadable:
        armed_.store(false);
        onReadable_();
        break;
      case ReadableOrWakeup::Result::kTimeout:
        break;
      case ReadableOrWakeup::Result::kError:
        return;  // poll itself failed: nothing more can be watched
    }
  }
}

}  // namespace halvyn
