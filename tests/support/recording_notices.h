// RelayNotices that records each notice as a line, for tests of the relay.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "relay/relay_notices.h"

namespace halvyn::testing {

class RecordingNotices final : public RelayNotices {
 public:
  void SendClientLogin(const ClientRecord& r) override { Add("login", r); }
  void SendClientLogout(const ClientRecord& r) override { Add("logout", r); }
  void PostClientTimeout(const ClientRecord& r) override { Add("timeout", r); }
  void PostForwardConnect() override { Add("connect", {}); }
  void SendClientInfo(const ClientRecord& r) override { Add("info", r); }
  void PostLimitLine(std::string line) override {
    std::lock_guard lock(mutex_);
    notices_.push_back({"limit", {}, std::move(line)});
  }

  struct Notice {
    std::string kind;
    ClientRecord record;
    std::string text;  // the line of a "limit" notice
  };
  std::vector<Notice> Take() {
    std::lock_guard lock(mutex_);
    return std::exchange(notices_, {});
  }

 private:
  void Add(std::string kind, const ClientRecord& r) {
    std::lock_guard lock(mutex_);
    notices_.push_back({std::move(kind), r, {}});
  }
  std::mutex mutex_;
  std::vector<Notice> notices_;
};

}  // namespace halvyn::testing
