// The grammar with the platform's own character step and version report.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "host/host.h"

namespace {

TEST(PlatformCommandLine, CutsTheTailWithCharNextA) {
  EXPECT_EQ(std::string(CommandTail("\"C:\\Program Files\\Vandrel.scr\" /p 42")), "/p 42");
  EXPECT_EQ(std::string(CommandTail("C:\\VANDREL.SCR\t\t/s")), "/s");
  EXPECT_EQ(std::string(CommandTail("VANDREL.SCR")), "");
}

TEST(PlatformCommandLine, OwnCommandLineStartsWithTheProgramPath) {
  // This very process was started as `wine program.exe`: its tail is what followed.
  const char *tail = CommandTail(GetCommandLineA());
  EXPECT_EQ(std::string(tail).find(".exe"), std::string::npos) << GetCommandLineA();
}

TEST(PlatformFamily, FollowsTheReportedPlatform) {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  ASSERT_TRUE(GetVersionExA(&version));
  gHostState.onWin95 = -1;
  DetectPlatformFamily();
  EXPECT_EQ(gHostState.onWin95, version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS ? 1 : 0);
  // The decoded grammar follows the recorded family.
  gHostState.onWin95 = 0;
  EXPECT_EQ(DecodeCommand("/a 5").kind, SaverCommandKind::Invalid);
  gHostState.onWin95 = 1;
  EXPECT_EQ(DecodeCommand("/a 5").kind, SaverCommandKind::ChangePassword);
  DetectPlatformFamily();
}

}  // namespace
