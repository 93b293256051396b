#include "platform/socket_readable_notifier.h"

namespace halvyn {

SocketReadableNotifier::SocketReadableNotifier(const UdpSocket& socket,
                                               std::function<void()> onReadable)
    : socket_(socket), onReadable_(std::move(onReadable)) {}

SocketReadableNotifier::~SocketReadableNotifier() {
  Stop();
}

bool SocketReadableNotifier::Start() {
  if (!wake_.valid() || thread_.joinable()) return false;
  stopRequested_.store(false);
  armed_.store(true);
  wake_.Clear();  // a wake-up left by an earlier Stop
  thread_ = std::thread([this] { Loop(); });
  return true;
}

void SocketReadableNotifier::Rearm() {
  armed_.store(true);
  wake_.Wake();
}

void SocketReadableNotifier::Stop() {
  if (!thread_.joinable()) return;
  stopRequested_.store(true);
  wake_.Wake();
  thread_.join();
}

void SocketReadableNotifier::Loop() {
  // Flags are set before Wake and read after Clear, so no request is lost.
  while (!stopRequested_.load()) {
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
