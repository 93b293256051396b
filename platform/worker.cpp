#include "platform/worker.h"

#include <optional>

namespace halvyn {

Worker::~Worker() {
  RequestStop();
  Join();
}

bool Worker::Start(Body body, Wake wake) {
  if (thread_.joinable()) return false;
  {
    MutexLock lock(mutex_);
    finished_ = false;
  }
  thread_ =
      std::jthread([this, body = std::move(body), wake = std::move(wake)](std::stop_token stop) {
        {
          std::optional<std::stop_callback<Wake>> onStop;
          if (wake) onStop.emplace(stop, wake);
          body(stop);
        }  // a wake running on another thread is waited for here
        Finish();
      });
  return true;
}

bool Worker::Stop(StopWaiter& waiter, int timeoutMs) {
  return StopWorkers({this}, waiter, timeoutMs);
}

void Worker::Join() {
  if (thread_.joinable()) thread_.join();
}

bool Worker::finished() const {
  MutexLock lock(mutex_);
  return finished_;
}

void Worker::SetWaiter(StopWaiter* waiter) {
  MutexLock lock(mutex_);
  waiter_ = waiter;
}

void Worker::Finish() {
  MutexLock lock(mutex_);
  finished_ = true;
  // Under the lock, so a Stop that gives up cannot destroy its waiter meanwhile.
  if (waiter_ != nullptr) waiter_->Wake();
}

bool StopWorkers(std::initializer_list<Worker*> workers, StopWaiter& waiter, int timeoutMs) {
  for (Worker* worker : workers) worker->SetWaiter(&waiter);
  for (Worker* worker : workers) worker->RequestStop();
  const bool ended = waiter.WaitUntil(
      [&] {
        for (Worker* worker : workers)
          if (worker->started() && !worker->finished()) return false;
        return true;
      },
      timeoutMs);
  // After this no worker calls the waiter.
  for (Worker* worker : workers) worker->SetWaiter(nullptr);
  if (!ended) return false;
  for (Worker* worker : workers) worker->Join();  // each has left its body: at once
  return true;
}

}  // namespace halvyn
