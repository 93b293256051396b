#include "console/halvyn_dlg.h"

#include <gtest/gtest.h>

#include <sstream>

#include "console/log_lines.h"
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
  ClientTable table;
  WindowMessageQueue window;
  MonotonicTickClock clock;
  std::ostringstream out, err;
  CHalvynDlg dlg{table, window, clock, {.relayTiming = {}, .startNetwork = false, .logOut = &out, .errorOut = &err}};
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
  dlg.RunCommand(ConsoleCommand::kAbout, {.localAddress = "10.9.8.7", .relayPort = "1234",
                                          .stunServer = std::nullopt}, -1);
  EXPECT_EQ(dlg.View().controls.relayPort, "1234");
  dlg.OnForwardConnect();
  EXPECT_EQ(dlg.View().controls.relayPort, "7002");
  EXPECT_EQ(dlg.View().controls.localAddress, "0.0.0.0");
  EXPECT_EQ(dlg.View().messageLog, "Foward p2p_connect.\r\n");
}

TEST_F(HalvynDlgTest, ReadingTheControlsRefusesANonNumericPortAndKeepsTheLastOne) {
  dlg.RunCommand(ConsoleCommand::kAbout, {.localAddress = "192.168.1.20", .relayPort = "8000",
                                          .stunServer = std::nullopt}, -1);
  EXPECT_TRUE(dlg.UpdateData(true));
  EXPECT_EQ(dlg.relayPort(), 8000u);
  EXPECT_EQ(dlg.localAddress(), 0xC0A80114u);
  for (const char* bad : {"", "-1", "12a", "4294967296", "0x10"}) {
    dlg.RunCommand(ConsoleCommand::kAbout,
                   {.localAddress = std::nullopt, .relayPort = bad, .stunServer = std::nullopt}, -1);
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
  dlg.OnDismissMessage();
  EXPECT_EQ(dlg.View().messageBoxes, std::vector<std::string>{"second"});
  dlg.OnDismissMessage();
  dlg.OnDismissMessage();  // nothing left: nothing happens
  EXPECT_TRUE(dlg.View().messageBoxes.empty());
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
  for (size_t written = 0; written <= MessageLog::kMaxBytes; written += 101) log.Append(line + "\r\n");
  EXPECT_LE(log.text().size(), MessageLog::kMaxBytes);
  EXPECT_GE(log.text().size(), MessageLog::kTrimmedBytes - 101);
  EXPECT_NE(log.epoch(), epoch);
  EXPECT_EQ(log.text().substr(0, 101), line + "\r\n");  // whole lines only
}

}  // namespace
}  // namespace halvyn
