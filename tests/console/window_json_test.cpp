#include "console/web/window_json.h"

#include <gtest/gtest.h>

namespace halvyn {
namespace {

TEST(WindowJsonTest, LogIncrementIsWhatTheJsonDumpWrites) {
  std::string everyByte = "login.\r\n";
  for (int byte = 0; byte <= 0xFF; ++byte) everyByte += char(byte);
  everyByte += "caf\xE9 \"quoted\" back\\slash\r\n";
  const std::vector<int64_t> times = {1765263600123, 1765263600124, -1};
  const nlohmann::json part = {
      {"epoch", 3}, {"offset", 12345}, {"append", Latin1ToUtf8(everyByte)}, {"times", times}};
  EXPECT_EQ(LogIncrementJson(3, 12345, everyByte, times),
            part.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
  EXPECT_EQ(LogIncrementJson(0, 0, "", {}), R"({"append":"","epoch":0,"offset":0,"times":[]})");

  // The whole window likewise, names that look like the log's members included.
  WindowView view;
  view.messageLog = everyByte;
  view.logTimes = times;
  view.remoteDevices = {R"(,"messageLog":"")", R"(,"logTimes":[])"};
  view.messageBoxes = {"x\\"};
  EXPECT_EQ(WindowJsonText(view),
            WindowJson(view).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

TEST(WindowJsonTest, EveryByteOfANameIsOneCharacterInTheListsTheLogAndTheRoutes) {
  std::string everyHighByte;
  for (int byte = 0x80; byte <= 0xFF; ++byte) everyHighByte += char(byte);
  WindowView view;
  view.remoteDevices = {"caf\xE9", "caf\xE8"};
  view.messageLog = "caf\xE9(127.0.0.1:4000)login.\r\n";
  view.lanDevices = {{"1", "DEV-1", "B\xFChne", "10.0.0.2", "1:05", ""}};
  view.forwardRoutes = {{"14367", "caf\xE9", "1", "caf\xE8", "2", ""}};
  const nlohmann::json json = WindowJson(view);
  EXPECT_EQ(json["remoteDevices"], nlohmann::json::array({"café", "cafè"}));
  EXPECT_EQ(json["messageLog"], "café(127.0.0.1:4000)login.\r\n");
  EXPECT_EQ(json["lanDevices"][0][2], "Bühne");
  EXPECT_EQ(json["forwardRoutes"][0][1], "café");
  EXPECT_EQ(json["forwardRoutes"][0][3], "cafè");

  // 0x80-0xFF become U+0080-U+00FF, one character each, and the dump is valid UTF-8.
  const std::string utf8 = Latin1ToUtf8(everyHighByte);
  ASSERT_EQ(utf8.size(), 2u * 128u);
  EXPECT_EQ(utf8.substr(0, 2), "\xC2\x80");
  EXPECT_EQ(utf8.substr(utf8.size() - 2), "\xC3\xBF");
  view.remoteDevices = {everyHighByte};
  EXPECT_EQ(nlohmann::json::parse(WindowJson(view).dump())["remoteDevices"][0], utf8);
  EXPECT_EQ(Latin1ToUtf8("plain ASCII\r\n"), "plain ASCII\r\n");
}

}  // namespace
}  // namespace halvyn
