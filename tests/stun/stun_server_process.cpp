#include "tests/stun/stun_server_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/udp_socket.h"
#include "tests/support/child_exit.h"

extern char** environ;

namespace halvyn::testing {

StunServerProcess::StunServerProcess(Ipv4Endpoint listen) : listen_(listen) {
  char pattern[] = "/tmp/halvyn-stun-XXXXXX";
  dir_ = mkdtemp(pattern);
  std::vector<std::string> args = {
      "turnserver",
      "-n",  // no configuration file: only what is given here
      "--stun-only",
      "--no-auth",
      "--no-cli",
      "--no-tls",
      "--no-dtls",
      "--no-rfc5780",
      "--no-software-attribute",
      "--listening-ip",
      DottedText(listen.address),
      "--listening-port",
      std::to_string(listen.port),
      "--log-file",
      "stdout",
      "--simple-log",
      "--pidfile",
      (dir_ / "turnserver.pid").string(),
      "--userdb",
      (dir_ / "turndb").string(),
  };
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string out = (dir_ / "output.txt").string();
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawn_file_actions_addchdir_np(&actions, dir_.c_str());
  if (posix_spawnp(&pid_, "turnserver", &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
}

StunServerProcess::~StunServerProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    if (!WaitForChildExit(pid_, std::chrono::seconds(5))) {
      kill(pid_, SIGKILL);
      WaitForChildExit(pid_, std::chrono::seconds(5));
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

bool StunServerProcess::WaitUntilAnswering(std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return false;
  UdpSocket probe;
  if (probe.Bind({NetworkAddress(127, 0, 0, 1), 0}) != 0) return false;
  // A Binding Request with a fixed transaction ID.
  const std::array<uint8_t, 20> request = {0x00, 0x01, 0x00, 0x00, 0x21, 0x12, 0xa4,
                                           0x42, 'r',  'e',  'a',  'd',  'y',  '?',
                                           'r',  'e',  'a',  'd',  'y',  '?'};
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;  // it ended by itself (a port in use, a bad option)
      return false;
    }
    (void)probe.SendTo(request, listen_);  // refused until it listens: try again
    if (probe.WaitReadable(100)) {
      std::array<uint8_t, 512> answer{};
      const ReceiveResult got = probe.ReceiveNow(answer);
      if (got.status == ReceiveResult::Status::kDatagram && got.size >= 20 && answer[0] == 0x01 &&
          answer[1] == 0x01) {
        return true;
      }
    }
  }
  return false;
}

std::string StunServerProcess::Output() const {
  std::ifstream in(dir_ / "output.txt", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace halvyn::testing
