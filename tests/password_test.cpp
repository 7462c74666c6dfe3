// The close policy of the Windows 95 family, against a stand-in for the system's password
// verifier (PASSWORD.CPL beside this program). Wine reports the Windows 95 family to this
// program only: its AppDefaults entry says so.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>

#include <string>

#include "effect/effect.h"
#include "env_number.h"
#include "host/host.h"
#include "registry_shapes.h"
#include "saver_state.h"
#include "win_test_support.h"

namespace {

const char kDesktopKey[] = "Control Panel\\Desktop";
std::string gVerifierWithoutEntry;  // a PASSWORD.CPL that exports nothing

const char kTestClass[] = "VandrelPasswordSaver";

// The system's own word on whether a saver runs; -1 if it cannot say.
int SaverRunning() {
  BOOL running = FALSE;
  return SystemParametersInfoA(SPI_GETSCREENSAVERRUNNING, 0, &running, 0) ? (running != 0) : -1;
}

void StorePasswordSwitch(DWORD type, const void *data, DWORD size) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, kDesktopKey, &key), ERROR_SUCCESS);
  ASSERT_EQ(
      RegSetValueExA(key, "ScreenSaveUsePassword", 0, type, static_cast<const BYTE *>(data), size),
      ERROR_SUCCESS);
  RegCloseKey(key);
}

void StorePasswordSwitch(DWORD on) {
  StorePasswordSwitch(REG_DWORD, &on, sizeof on);
}

class Win95Password : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    WNDCLASSA c = {};
    c.style = CS_OWNDC;
    c.lpfnWndProc = HostWindowProc;
    c.hInstance = GetModuleHandleA(NULL);
    c.lpszClassName = kTestClass;
    ASSERT_TRUE(RegisterClassA(&c));
  }
  static void TearDownTestSuite() { StorePasswordSwitch(0); }

  void SetUp() override {
    wintest::ResetSaverState();
    DetectPlatformFamily();
    ASSERT_EQ(gHostState.onWin95, 1) << "Wine does not report the Windows 95 family here";
    SetEnvNumber("VANDREL_VERIFY_ANSWER", 0);
    SetEnvNumber("VANDREL_VERIFY_CALLS", 0);
    SetEnvNumber("VANDREL_VERIFY_RUNNING", -2);
    SetCursorPos(300, 300);
  }

  HWND MakeSaver() {
    HWND hwnd = CreateWindowExA(WS_EX_TOPMOST, kTestClass, "Screen Saver", WS_POPUP, 0, 0, 64, 48,
                                NULL, NULL, GetModuleHandleA(NULL), NULL);
    EXPECT_NE(hwnd, nullptr);
    return hwnd;
  }

  static void Press(HWND hwnd) {
    PostMessageA(hwnd, WM_KEYDOWN, 0x41, 0);
    wintest::Pump(40);
  }
};

TEST_F(Win95Password, RefusalKeepsTheSaverAndAcceptanceEndsIt) {
  StorePasswordSwitch(1);
  int loads = EnvNumber("VANDREL_VERIFY_LOADS");
  LoadPasswordVerifier();
  ASSERT_NE(gHostState.verifyEntry, nullptr);
  EXPECT_EQ(EnvNumber("VANDREL_VERIFY_LOADS"), loads + 1);
  EXPECT_NE(GetModuleHandleA("PASSWORD.CPL"), nullptr);
  int runningWhileLoaded = SaverRunning();
  if (runningWhileLoaded != -1) {
    EXPECT_EQ(runningWhileLoaded, 1);
  }

  HWND hwnd = MakeSaver();
  SetCursorPos(310, 300);  // the pointer has wandered since the window was made
  Press(hwnd);
  EXPECT_EQ(EnvNumber("VANDREL_VERIFY_CALLS"), 1);
  EXPECT_EQ(EnvNumber("VANDREL_VERIFY_WINDOW"), 1);
  EXPECT_TRUE(IsWindow(hwnd));
  EXPECT_EQ(gHostState.closing, 0);
  EXPECT_EQ(gHostState.checkingPassword, 0);
  EXPECT_EQ(GetCursor(), nullptr);
  // Travel counts afresh from where the pointer was at the refusal.
  EXPECT_EQ(gHostState.lastCursorPos.x, 310);
  EXPECT_NE(gHostState.lastVerifyTick, kNeverVerified);

  Press(hwnd);  // within 200 ms of the refusal: refused without asking
  EXPECT_EQ(EnvNumber("VANDREL_VERIFY_CALLS"), 1);
  EXPECT_TRUE(IsWindow(hwnd));

  Sleep(250);
  PostMessageA(hwnd, WM_ACTIVATEAPP, 0, 0);  // later, and by losing activation: asked again
  wintest::Pump(40);
  EXPECT_EQ(EnvNumber("VANDREL_VERIFY_CALLS"), 2);
  EXPECT_TRUE(IsWindow(hwnd));

  SetEnvNumber("VANDREL_VERIFY_ANSWER", 1);
  Sleep(250);
  Press(hwnd);
  EXPECT_EQ(EnvNumber("VANDREL_VERIFY_CALLS"), 3);
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(gHostState.closing, 1);

  UnloadPasswordVerifier();
  EXPECT_EQ(gHostState.verifierLibrary, nullptr);
  EXPECT_EQ(gHostState.verifyEntry, nullptr);
  EXPECT_EQ(GetModuleHandleA("PASSWORD.CPL"), nullptr);
  int runningAfter = SaverRunning();
  if (runningAfter != -1) {
    EXPECT_EQ(runningAfter, 0);
  }
  if (runningWhileLoaded == -1) std::printf("the system cannot report the saver-running flag\n");
}

TEST_F(Win95Password, InputDuringTheCheckAsksForNoSecondCheckWhileTicksGoOn) {
  StorePasswordSwitch(1);
  LoadPasswordVerifier();
  ASSERT_NE(gHostState.verifyEntry, nullptr);
  HWND hwnd = MakeSaver();
  SetEnvNumber("VANDREL_VERIFY_NESTED", 1);
  SetEnvNumber("VANDREL_VERIFY_NESTED_CLOSES", 0);
  SetEnvNumber("VANDREL_VERIFY_NESTED_TICKS", 0);
  Press(hwnd);
  SetEnvNumber("VANDREL_VERIFY_NESTED", 0);
  EXPECT_EQ(EnvNumber("VANDREL_VERIFY_CALLS"), 1);
  EXPECT_EQ(EnvNumber("VANDREL_VERIFY_NESTED_CLOSES"), 0);
  EXPECT_GT(EnvNumber("VANDREL_VERIFY_NESTED_TICKS"), 0);
  EXPECT_TRUE(IsWindow(hwnd));
  // The displays changed during the check: a saver that guards with a password covers the
  // virtual screen at once, its working image with it.
  RECT r, screen = FullScreenRect();
  EXPECT_TRUE(GetWindowRect(hwnd, &r) && EqualRect(&r, &screen));
  EXPECT_EQ(gEffectState.right, screen.right - screen.left);
  EXPECT_NE(gEffectState.image.dc, nullptr);
  DestroyWindow(hwnd);
  UnloadPasswordVerifier();
}

TEST_F(Win95Password, WithoutThePasswordSwitchNothingIsLoadedAndInputCloses) {
  StorePasswordSwitch(0);
  int loads = EnvNumber("VANDREL_VERIFY_LOADS");
  LoadPasswordVerifier();
  EXPECT_EQ(gHostState.verifierLibrary, nullptr);
  EXPECT_EQ(EnvNumber("VANDREL_VERIFY_LOADS"), loads);
  int running = SaverRunning();
  if (running != -1) {
    EXPECT_EQ(running, 0);
  }
  HWND hwnd = MakeSaver();
  Press(hwnd);
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(gHostState.closing, 1);
  EXPECT_EQ(EnvNumber("VANDREL_VERIFY_CALLS"), 0);
}

// Any type is read as four bytes: what fits and is not all zero switches the verifier on. So
// text of one to three characters counts as on whatever it says, "0" included, and longer
// text cannot be read at all.
TEST_F(Win95Password, PasswordSwitchInEveryShape) {
  struct Case {
    const char *name;
    DWORD type;
    std::string bytes;
    bool loads;
  };
  const std::string huge(1 << 20, '\x01');
  const Case cases[] = {
      {"DWORD 1", REG_DWORD, std::string("\x01\0\0\0", 4), true},
      {"DWORD 0", REG_DWORD, std::string(4, '\0'), false},
      {"DWORD -1", REG_DWORD, std::string(4, '\xFF'), true},
      {"DWORD of two bytes", REG_DWORD, std::string("\x01\0", 2), true},
      {"DWORD of no bytes", REG_DWORD, std::string(), false},
      {"DWORD of eight bytes", REG_DWORD, std::string("\x01\0\0\0\0\0\0\0", 8), false},
      {"big-endian 1", REG_DWORD_BIG_ENDIAN, std::string("\0\0\0\x01", 4), true},
      {"QWORD 1", REG_QWORD, std::string("\x01\0\0\0\0\0\0\0", 8), false},
      {"expandable \"1\"", REG_EXPAND_SZ, std::string("1\0", 2), true},
      {"multi-string \"1\"", REG_MULTI_SZ, std::string("1\0\0", 3), true},
      {"multi-string of two", REG_MULTI_SZ, std::string("ab\0cd\0\0", 7), false},
      {"text \"0\"", REG_SZ, std::string("0\0", 2), true},
      {"text \"abc\"", REG_SZ, std::string("abc\0", 4), true},
      {"text \"1234\"", REG_SZ, std::string("1234\0", 5), false},
      {"empty text", REG_SZ, std::string(1, '\0'), false},
      {"binary of no bytes", REG_BINARY, std::string(), false},
      {"binary 00", REG_BINARY, std::string(1, '\0'), false},
      {"binary 01", REG_BINARY, std::string(1, '\x01'), true},
      {"binary 00 00 00 01", REG_BINARY, std::string("\0\0\0\x01", 4), true},
      {"binary of five bytes", REG_BINARY, std::string("\x01\0\0\0\0", 5), false},
      {"binary of sixteen bytes", REG_BINARY, std::string(16, '\x01'), false},
      {"huge binary", REG_BINARY, huge, false},
      {"none of four bytes", REG_NONE, std::string("\x01\0\0\0", 4), true},
      {"none of no bytes", REG_NONE, std::string(), false},
  };
  for (const Case &c : cases) {
    StorePasswordSwitch(c.type, c.bytes.data(), static_cast<DWORD>(c.bytes.size()));
    LoadPasswordVerifier();
    EXPECT_EQ(gHostState.verifyEntry != nullptr, c.loads) << c.name;
    int running = SaverRunning();
    if (running != -1) {
      EXPECT_EQ(running, c.loads ? 1 : 0) << c.name;
    }
    UnloadPasswordVerifier();
    EXPECT_EQ(GetModuleHandleA("PASSWORD.CPL"), nullptr) << c.name;
  }

  HKEY key;
  ASSERT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, kDesktopKey, &key), ERROR_SUCCESS);
  RegDeleteValueA(key, "ScreenSaveUsePassword");
  RegCloseKey(key);
  LoadPasswordVerifier();
  EXPECT_EQ(gHostState.verifierLibrary, nullptr) << "no value at all";
}

TEST_F(Win95Password, UnreadableDesktopKeyLeavesTheSaverWithoutPassword) {
  StorePasswordSwitch(1);
  {
    wintest::ReadingDenied denied(HKEY_CURRENT_USER, kDesktopKey);
    ASSERT_TRUE(denied.Holds(HKEY_CURRENT_USER, kDesktopKey));
    LoadPasswordVerifier();
    EXPECT_EQ(gHostState.verifierLibrary, nullptr);
    EXPECT_EQ(gHostState.verifyEntry, nullptr);
  }
  HWND hwnd = MakeSaver();
  Press(hwnd);
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(EnvNumber("VANDREL_VERIFY_CALLS"), 0);
}

// A module of the verifier's name that exports nothing: no password, the flag untouched, and
// the module released again. LoadLibraryA finds a module of that name that the process already
// has, wherever it came from, so the test loads the broken one first.
TEST_F(Win95Password, VerifierThatExportsNothingIsReleasedAndInputCloses) {
  StorePasswordSwitch(1);
  ASSERT_EQ(GetModuleHandleA("PASSWORD.CPL"), nullptr);
  HMODULE broken = LoadLibraryA(gVerifierWithoutEntry.c_str());
  ASSERT_NE(broken, nullptr) << gVerifierWithoutEntry;
  ASSERT_EQ(GetProcAddress(broken, "VerifyScreenSavePwd"), nullptr);
  LoadPasswordVerifier();
  EXPECT_EQ(gHostState.verifierLibrary, nullptr);
  EXPECT_EQ(gHostState.verifyEntry, nullptr);
  int running = SaverRunning();
  if (running != -1) {
    EXPECT_EQ(running, 0);
  }
  FreeLibrary(broken);
  EXPECT_EQ(GetModuleHandleA("PASSWORD.CPL"), nullptr) << "the saver kept a reference";

  HWND hwnd = MakeSaver();
  Press(hwnd);
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(gHostState.closing, 1);
}

// A verifier that never lets go, hammered with close requests: it is asked at most once per
// 200 ms, the saver stays with the cursor hidden, and unloading still clears the flag.
TEST_F(Win95Password, VerifierThatRefusesForeverIsAskedAtARestrainedPace) {
  StorePasswordSwitch(1);
  LoadPasswordVerifier();
  ASSERT_NE(gHostState.verifyEntry, nullptr);
  HWND hwnd = MakeSaver();
  DWORD start = GetTickCount();
  int requests = 0;
  while (GetTickCount() - start < 1500) {
    PostMessageA(hwnd, WM_KEYDOWN, 0x41, 0);
    PostMessageA(hwnd, WM_CLOSE, 0, 0);
    requests += 2;
    wintest::Pump(5);
  }
  wintest::Pump(50);
  int calls = EnvNumber("VANDREL_VERIFY_CALLS");
  EXPECT_GE(calls, 4);
  EXPECT_LE(calls, 9) << "1.5 s at one check per 200 ms at most, of " << requests << " requests";
  EXPECT_TRUE(IsWindow(hwnd));
  EXPECT_EQ(gHostState.closing, 0);
  EXPECT_EQ(GetCursor(), nullptr);
  DestroyWindow(hwnd);
  UnloadPasswordVerifier();
  int running = SaverRunning();
  if (running != -1) {
    EXPECT_EQ(running, 0);
  }
}

// While the verifier's own loop runs, it dispatches thousands of ticks, pointer moves, key
// presses and close requests to the saver: none starts a second check, and once the verifier
// accepts, the saver closes.
TEST_F(Win95Password, FloodDuringTheCheckStartsNoSecondCheck) {
  StorePasswordSwitch(1);
  LoadPasswordVerifier();
  ASSERT_NE(gHostState.verifyEntry, nullptr);
  HWND hwnd = MakeSaver();
  SetEnvNumber("VANDREL_VERIFY_FLOOD", 2000);
  SetEnvNumber("VANDREL_VERIFY_DEPTH_MAX", 0);
  SetEnvNumber("VANDREL_VERIFY_ANSWER", 1);
  Press(hwnd);
  SetEnvNumber("VANDREL_VERIFY_FLOOD", 0);
  EXPECT_EQ(EnvNumber("VANDREL_VERIFY_CALLS"), 1);
  EXPECT_EQ(EnvNumber("VANDREL_VERIFY_DEPTH_MAX"), 1);
  EXPECT_EQ(gHostState.checkingPassword, 0);
  EXPECT_EQ(gHostState.closing, 1);
  EXPECT_FALSE(IsWindow(hwnd));
  UnloadPasswordVerifier();
}

// A flood of timer ticks queued at once: each runs a step, and the key press behind them
// still ends the saver. A step costs a fraction of a millisecond, so the suite queues 10,000
// (VANDREL_TICK_FLOOD asks for more, such as 300,000, in a run of its own).
TEST_F(Win95Password, TickFloodStillLetsTheSaverClose) {
  StorePasswordSwitch(0);
  LoadPasswordVerifier();
  HWND hwnd = MakeSaver();
  const int kTicks = EnvNumber("VANDREL_TICK_FLOOD") > 0 ? EnvNumber("VANDREL_TICK_FLOOD") : 10000;
  DWORD start = GetTickCount();
  for (int i = 0; i < kTicks; ++i) ASSERT_TRUE(PostMessageA(hwnd, WM_TIMER, 1, 0)) << i;
  PostMessageA(hwnd, WM_KEYDOWN, 0x41, 0);
  EXPECT_TRUE(wintest::PumpUntil([&] { return !IsWindow(hwnd); }, 2000u + kTicks / 10u * 3u));
  std::printf("%d ticks and a key press handled in %lu ms\n", kTicks, GetTickCount() - start);
  EXPECT_EQ(gHostState.closing, 1);
}

// Drives a running saver loop from a second thread.
struct Driver {
  HWND parentToClose;
  int answer;
};

DWORD WINAPI DriveSaver(void *arg) {
  Driver *driver = static_cast<Driver *>(arg);
  HWND saver = NULL;
  for (int i = 0; i < 500 && saver == NULL; ++i) {
    Sleep(10);
    saver = driver->parentToClose != NULL
                ? FindWindowExA(driver->parentToClose, NULL, "WindowsScreenSaverClass", "Preview")
                : FindWindowA("WindowsScreenSaverClass", "Screen Saver");
  }
  if (saver == NULL) return 1;
  Sleep(300);
  if (driver->parentToClose != NULL) {
    PostMessageA(saver, WM_KEYDOWN, 0x41, 0);  // a preview does not care
    Sleep(200);
    PostMessageA(driver->parentToClose, WM_CLOSE, 0, 0);
  } else {
    SetEnvNumber("VANDREL_VERIFY_ANSWER", driver->answer);
    PostMessageA(saver, WM_KEYDOWN, 0x41, 0);
  }
  return 0;
}

int RunDriven(HWND parent, int answer) {
  Driver driver = {parent, answer};
  HANDLE thread = CreateThread(NULL, 0, DriveSaver, &driver, 0, NULL);
  int result = RunSaverWindow(parent);
  WaitForSingleObject(thread, 10000);
  DWORD code = 99;
  GetExitCodeThread(thread, &code);
  CloseHandle(thread);
  EXPECT_EQ(code, 0u) << "the driver did not find the saver window";
  UnregisterClassA("WindowsScreenSaverClass", GetModuleHandleA(NULL));
  return result;
}

TEST_F(Win95Password, FullScreenRunHoldsTheVerifierForItsLoopOnly) {
  StorePasswordSwitch(1);
  int loads = EnvNumber("VANDREL_VERIFY_LOADS");
  EXPECT_EQ(RunDriven(NULL, 1), 0);
  EXPECT_EQ(EnvNumber("VANDREL_VERIFY_LOADS"), loads + 1);
  EXPECT_EQ(EnvNumber("VANDREL_VERIFY_CALLS"), 1);
  int runningDuringCall = EnvNumber("VANDREL_VERIFY_RUNNING");
  if (runningDuringCall != -1) {
    EXPECT_EQ(runningDuringCall, 1);
  }
  EXPECT_EQ(gHostState.verifierLibrary, nullptr);
  EXPECT_EQ(GetModuleHandleA("PASSWORD.CPL"), nullptr);
  int runningAfter = SaverRunning();
  if (runningAfter != -1) {
    EXPECT_EQ(runningAfter, 0);
  }
}

TEST_F(Win95Password, PreviewNeverLoadsTheVerifier) {
  StorePasswordSwitch(1);
  int loads = EnvNumber("VANDREL_VERIFY_LOADS");
  HWND parent = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 200,
                                150, NULL, NULL, GetModuleHandleA(NULL), NULL);
  ASSERT_NE(parent, nullptr);
  EXPECT_EQ(RunDriven(parent, 0), 0);
  EXPECT_EQ(EnvNumber("VANDREL_VERIFY_LOADS"), loads);
  EXPECT_EQ(EnvNumber("VANDREL_VERIFY_CALLS"), 0);
  EXPECT_FALSE(IsWindow(parent));
}

}  // namespace

int main(int argc, char **argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: password_test PATH-TO-A-PASSWORD.CPL-WITHOUT-ENTRY\n");
    return 2;
  }
  gVerifierWithoutEntry = wintest::WindowsPath(argv[1]);
  return RUN_ALL_TESTS();
}
