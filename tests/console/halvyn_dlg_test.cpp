#include "console/halvyn_dlg.h"

#include <gtest/gtest.h>

#include <sstream>

#include "console/log_lines.h"
#include "console/web/window_json.h"
#include "server/server_parts.h"
#include "tests/support/fake_clock.h"
#include "tests/support/relay_datagrams.h"

namespace halvyn {
namespace {

using testing::NamedRecord;

ClientRecord Client(std::string_view name, uint32_t ip, uint16_t port) {
  ClientRecord record = NamedRecord(name);
  record.set_ip(ip);
  record.set_port(port);
  return record;
}

class HalvynDlgTest : public ::testing::Test {
 protected:
  HalvynDlgTest() {
    window.BindToCurrentThread();
    dlg.OnInitDialog();
  }
  WindowMessageQueue window;
  MonotonicTickClock clock;
  std::ostringstream out, err;
  ServerParts parts{
      window, clock, {.relayTiming = {}, .startNetwork = false, .logOut = &out, .errorOut = &err}};
  ClientTable& table = parts.clientTable();
  CHalvynDlg& dlg = parts.window();
};

TEST(LogLines, HaveTheirExactSpacing) {
  const ClientRecord dev7 = Client("dev7", NetworkAddress(198, 51, 100, 7), 30000);
  EXPECT_EQ(LoginLine(dev7), "dev7(198.51.100.7:30000)login.\r\n");
  EXPECT_EQ(LogoutLine(dev7), "dev7(198.51.100.7:30000 ) logout.\r\n");
  EXPECT_EQ(TimeoutLine(dev7), "dev7(198.51.100.7:30000) timeout.\r\n");
  ClientRecord info = dev7;
  info.set_p2p_port(65535);
  EXPECT_EQ(ClientInfoLine(info), "dev7  p2p_port : 65535.\r\n");
  EXPECT_EQ(kForwardConnectLine, "Foward p2p_connect.\r\n");
}

TEST(LogLines, WriteControlBytesOfANameAsHexSoNoLineCanBeForged) {
  ClientRecord forger = Client("x\r\nfake", NetworkAddress(198, 51, 100, 7), 5);
  EXPECT_EQ(LoginLine(forger), "x\\x0D\\x0Afake(198.51.100.7:5)login.\r\n");
  forger.set_name("\x1b[2J\x7f\x80\xff~");  // terminal escape, DEL; bytes above 0x7F stay
  EXPECT_EQ(ClientInfoLine(forger), "\\x1B[2J\\x7F\x80\xff~  p2p_port : 0.\r\n");
}

TEST_F(HalvynDlgTest, LoginThenLogoutListsAndUnlistsAndLogsTwoLines) {
  const ClientRecord dev7 = Client("dev7", NetworkAddress(198, 51, 100, 7), 30000);
  table.Add(dev7);
  dlg.OnClientLogin(&dev7);
  EXPECT_EQ(dlg.View().remoteDevices, std::vector<std::string>{"dev7"});
  dlg.OnClientLogout(dev7, false);
  const WindowView view = dlg.View();
  EXPECT_TRUE(view.remoteDevices.empty());
  EXPECT_EQ(view.messageLog,
            "dev7(198.51.100.7:30000)login.\r\ndev7(198.51.100.7:30000 ) logout.\r\n");
  EXPECT_EQ(out.str(), "dev7(198.51.100.7:30000)login.\ndev7(198.51.100.7:30000 ) logout.\n");
  dlg.OnClientLogin(nullptr);  // ignored
  EXPECT_EQ(dlg.View().messageLog.size(), view.messageLog.size());
}

TEST_F(HalvynDlgTest, ListIsSortedIgnoringCaseAndLogoutRemovesOnlyTheFirstMatch) {
  for (const char* name : {"zeta", "Beta", "alpha", "beta", "alpha"}) {
    const ClientRecord record = NamedRecord(name);
    table.Add(record);
    dlg.OnClientLogin(&record);
  }
  EXPECT_EQ(dlg.View().remoteDevices,
            (std::vector<std::string>{"alpha", "alpha", "Beta", "beta", "zeta"}));
  dlg.OnClientLogout(NamedRecord("alpha"), true);
  dlg.OnClientLogout(NamedRecord("BETA"), false);  // compared case-sensitively: nothing goes
  EXPECT_EQ(dlg.View().remoteDevices, (std::vector<std::string>{"alpha", "Beta", "beta", "zeta"}));
  EXPECT_NE(dlg.View().messageLog.find("BETA(0.0.0.0:0 ) logout.\r\n"), std::string::npos);
}

TEST_F(HalvynDlgTest, LoggedEventPutsStoredValuesBackIntoTheControls) {
  dlg.RunCommand(ConsoleCommand::kAbout,
                 {.localAddress = "10.9.8.7", .relayPort = "1234", .stunServer = std::nullopt}, -1);
  EXPECT_EQ(dlg.View().controls.relayPort, "1234");
  dlg.OnForwardConnect();
  EXPECT_EQ(dlg.View().controls.relayPort, "7002");
  EXPECT_EQ(dlg.View().controls.localAddress, "0.0.0.0");
  EXPECT_EQ(dlg.View().messageLog, "Foward p2p_connect.\r\n");
}

TEST_F(HalvynDlgTest, ReadingTheControlsRefusesANonNumericPortAndKeepsTheLastOne) {
  dlg.RunCommand(ConsoleCommand::kAbout,
                 {.localAddress = "192.168.1.20", .relayPort = "8000", .stunServer = std::nullopt},
                 -1);
  EXPECT_TRUE(dlg.UpdateData(true));
  EXPECT_EQ(dlg.relayPort(), 8000u);
  EXPECT_EQ(dlg.localAddress(), 0xC0A80114u);
  for (const char* bad : {"", "-1", "12a", "4294967296", "0x10"}) {
    dlg.RunCommand(ConsoleCommand::kAbout,
                   {.localAddress = std::nullopt, .relayPort = bad, .stunServer = std::nullopt},
                   -1);
    EXPECT_FALSE(dlg.UpdateData(true)) << bad;
    EXPECT_EQ(dlg.relayPort(), 8000u) << bad;
  }
  // Five refusals while the first box waits: one box, counted five times.
  const WindowView view = dlg.View();
  EXPECT_EQ(view.messageBoxes, std::vector<std::string>{"Enter a positive integer."});
  EXPECT_EQ(view.messageBoxCounts, std::vector<uint64_t>{5});
  EXPECT_EQ(err.str(), "Enter a positive integer.\n");
}

TEST_F(HalvynDlgTest, MessageBoxesQueueInOrderAndOkDismissesTheOldest) {
  dlg.ShowMessageBox("first");
  dlg.ShowMessageBox("second");
  const uint64_t bothShown = dlg.View().version;
  dlg.OnDismissMessage();
  EXPECT_EQ(dlg.View().messageBoxes, std::vector<std::string>{"second"});
  EXPECT_GT(dlg.View().version, bothShown);  // what tells a page the older window
  dlg.OnDismissMessage();
  const uint64_t noneLeft = dlg.View().version;
  dlg.OnDismissMessage();  // nothing left: nothing happens
  EXPECT_TRUE(dlg.View().messageBoxes.empty());
  EXPECT_EQ(dlg.View().version, noneLeft);
  EXPECT_EQ(WindowJson(dlg.View())["version"], noneLeft);
}

TEST_F(HalvynDlgTest, ClearMessagesEmptiesTheLogAndStartsANewEpoch) {
  dlg.OnForwardConnect();
  const uint64_t epoch = dlg.View().logEpoch;
  dlg.OnClearMessages();
  EXPECT_EQ(dlg.View().messageLog, "");
  EXPECT_NE(dlg.View().logEpoch, epoch);
  dlg.OnClearMessages();
  dlg.OnForwardConnect();
  EXPECT_EQ(dlg.View().messageLog, "Foward p2p_connect.\r\n");
}

TEST_F(HalvynDlgTest, ClearClientsEmptiesListAndTableWhetherRunningOrNot) {
  table.Add(NamedRecord("a"));
  table.Add(NamedRecord("b"));
  const ClientRecord a = NamedRecord("a");
  dlg.OnClientLogin(&a);
  dlg.OnClearClients();
  EXPECT_EQ(table.count(), 0);
  EXPECT_TRUE(dlg.View().remoteDevices.empty());
}

// The relay adds a client, then waits for the window to take its login notice;
// a Clear clients handled first must not leave the name listed without a client.
TEST_F(HalvynDlgTest, LoginNoticeAfterClearClientsIsLoggedButNotListed) {
  const ClientRecord late = NamedRecord("late");
  table.Add(late);
  dlg.OnClearClients();
  dlg.OnClientLogin(&late);
  EXPECT_TRUE(dlg.View().remoteDevices.empty());
  EXPECT_EQ(dlg.View().messageLog, "late(0.0.0.0:0)login.\r\n");
}

TEST_F(HalvynDlgTest, ExitWhileStoppedOnlyEndsTheWindow) {
  dlg.OnExit();
  EXPECT_TRUE(dlg.ended());
  EXPECT_TRUE(window.ended());
  EXPECT_FALSE(dlg.RunCommand(ConsoleCommand::kStartStop, {}, -1));
}

TEST(MessageLog, IncrementsAreAbsoluteWithinAnEpochAndTrimmingStartsANewOne) {
  MessageLog log;
  log.Append("one\r\n");
  const uint64_t epoch = log.epoch();
  log.Append("two\r\n");
  EXPECT_EQ(log.Since(epoch, 5), "two\r\n");
  EXPECT_EQ(log.Since(epoch, 10), "");
  EXPECT_FALSE(log.Since(epoch, 11));
  EXPECT_FALSE(log.Since(epoch + 1, 0));
  const std::string line(99, 'x');
  for (size_t written = 0; written <= MessageLog::kMaxBytes; written += 101)
    log.Append(line + "\r\n");
  EXPECT_LE(log.text().size(), MessageLog::kMaxBytes);
  EXPECT_GE(log.text().size(), MessageLog::kTrimmedBytes - 101);
  EXPECT_NE(log.epoch(), epoch);
  EXPECT_EQ(log.text().substr(0, 101), line + "\r\n");  // whole lines only
}

TEST(MessageLog, KeepsTheTimeOfEachLineItBeginsAndDropsThemWithTheirLines) {
  MessageLog log;
  log.Append("one\r\n", 100);
  log.Append("tw", 200);
  log.Append("o\r\nthree\r\n", 300);  // continues "two", begins "three"
  EXPECT_EQ(log.LineTimes(), (std::vector<int64_t>{100, 200, 300}));
  EXPECT_EQ(log.LineTimes(5), (std::vector<int64_t>{200, 300}));
  EXPECT_EQ(log.LineTimes(7), (std::vector<int64_t>{300}));
  const std::string line(99, 'x');
  for (size_t written = 0; written <= MessageLog::kMaxBytes; written += 101)
    log.Append(line + "\r\n", 400);
  EXPECT_EQ(log.LineTimes().size(), log.text().size() / 101);
  EXPECT_EQ(log.LineTimes(0).front(), 400);
  log.Clear();
  EXPECT_TRUE(log.LineTimes().empty());
}

TEST(WindowJson, ExplainsTheErrorNumbersOfTheMessageBoxesThatCarryOne) {
  EXPECT_EQ(ErrnoHint("bind() failed 98\n"), "Address already in use");
  EXPECT_EQ(ErrnoHint("Multicast bind failed:13"), "Permission denied");
  EXPECT_EQ(ErrnoHint("JoinGroup failed"), "");
  EXPECT_EQ(ErrnoHint("bind() failed x"), "");
}

class ConsoleDetailsTest : public ::testing::Test {
 protected:
  ConsoleDetailsTest() {
    window.BindToCurrentThread();
    dlg.SetWallClock([this] { return wallMs; });
    dlg.OnInitDialog();
  }
  WindowMessageQueue window;
  testing::FakeClock clock{50000};
  int64_t wallMs = 1'700'000'000'000;
  std::ostringstream out, err;
  ServerParts parts{
      window, clock, {.relayTiming = {}, .startNetwork = false, .logOut = &out, .errorOut = &err}};
  ClientTable& table = parts.clientTable();
  CHalvynDlg& dlg = parts.window();
};

TEST_F(ConsoleDetailsTest, RemoteDevicesCarryTheirAddressesLastHeardAndLoginTime) {
  ClientRecord dev7 = Client("dev7", NetworkAddress(198, 51, 100, 7), 30000);
  dev7.set_p2p_ip(NetworkAddress(10, 0, 0, 7));
  dev7.set_p2p_port(40000);
  dev7.set_last_seen(46000);
  table.Add(dev7);
  dlg.OnClientLogin(&dev7);
  wallMs += 1000;
  dlg.AppendLog("second\r\n");
  const WindowView view = dlg.View();
  ASSERT_EQ(view.remoteDeviceDetails.size(), 1u);
  const RemoteDeviceDetail& d = view.remoteDeviceDetails[0];
  EXPECT_TRUE(d.known);
  EXPECT_EQ(d.address, "198.51.100.7:30000");
  EXPECT_EQ(d.p2pAddress, "10.0.0.7:40000");
  EXPECT_EQ(d.lastHeardMs, 4000u);
  EXPECT_EQ(d.loginTime, 1'700'000'000'000);
  EXPECT_EQ(view.logTimes, (std::vector<int64_t>{1'700'000'000'000, 1'700'000'001'000}));

  table.Clear();  // gone from the table before the list knows it
  EXPECT_FALSE(dlg.View().remoteDeviceDetails[0].known);
}

TEST_F(ConsoleDetailsTest, OperatorCommandsGoToTheActivityListAndStderrNeverTheLog) {
  const ClientRecord dev7 = Client("dev7", NetworkAddress(198, 51, 100, 7), 30000);
  table.Add(dev7);
  dlg.OnClientLogin(&dev7);
  const std::string log = dlg.messageLog().text();
  ASSERT_TRUE(dlg.RunCommand(ConsoleCommand::kClearClients, {}, -1));
  ASSERT_TRUE(dlg.RunCommand(ConsoleCommand::kClearMessages, {}, -1));
  ASSERT_TRUE(dlg.RunCommand(ConsoleCommand::kSelectDevice, {}, 3));
  const WindowView view = dlg.View();
  ASSERT_EQ(view.activity.size(), 3u);
  EXPECT_EQ(view.activity[0].text, "Clear clients: 1 client and 0 routes forgotten");
  EXPECT_EQ(view.activity[1].text, "Clear Messages: 1 line removed");
  EXPECT_EQ(view.activity[2].text, "Select device: no device on row 3");
  EXPECT_EQ(view.activity[0].time, wallMs);
  EXPECT_EQ(err.str(),
            "Operator: Clear clients: 1 client and 0 routes forgotten\n"
            "Operator: Clear Messages: 1 line removed\n"
            "Operator: Select device: no device on row 3\n");
  EXPECT_EQ(view.messageLog, "");
  EXPECT_EQ(out.str(), log.substr(0, log.size() - 2) + "\n");  // stdout has the log line only
}

TEST_F(ConsoleDetailsTest, StatusShowsThePortActuallyBoundAndTheLastError) {
  ASSERT_TRUE(dlg.RunCommand(ConsoleCommand::kStartStop,
                             {.localAddress = {}, .relayPort = "0", .stunServer = {}}, -1));
  WindowView view = dlg.View();
  EXPECT_TRUE(view.status.relayRunning);
  EXPECT_NE(view.status.relayBoundPort, 0);
  EXPECT_EQ(view.status.relayStartedAt, wallMs);
  EXPECT_EQ(view.activity.back().text,
            "Start: relay server on UDP port " + std::to_string(view.status.relayBoundPort));
  dlg.ShowMessageBox("bind() failed 98\n");
  view = dlg.View();
  EXPECT_EQ(view.status.lastError, "bind() failed 98");
  EXPECT_EQ(WindowJson(view)["messageBoxHints"], nlohmann::json({"Address already in use"}));
  dlg.RunCommand(ConsoleCommand::kStartStop, {}, -1);
  EXPECT_FALSE(dlg.View().status.relayRunning);
  EXPECT_EQ(dlg.View().status.relayBoundPort, 0);
}

}  // namespace
}  // namespace halvyn
