// The close policy of the Windows 95 family, against a stand-in for the system's password
// verifier (PASSWORD.CPL beside this program). Wine reports the Windows 95 family to this
// program only: its AppDefaults entry says so.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "effect/effect.h"
#include "host/host.h"
#include "saver_state.h"
#include "win_test_support.h"

namespace {

const char kTestClass[] = "VandrelPasswordSaver";

int Env(const char *name) {
  char text[32] = {};
  if (!GetEnvironmentVariableA(name, text, sizeof text)) return 0;
  return std::atoi(text);
}

void SetEnv(const char *name, int value) {
  char text[32];
  std::snprintf(text, sizeof text, "%d", value);
  SetEnvironmentVariableA(name, text);
}

// The system's own word on whether a saver runs; -1 if it cannot say.
int SaverRunning() {
  BOOL running = FALSE;
  return SystemParametersInfoA(SPI_GETSCREENSAVERRUNNING, 0, &running, 0) ? (running != 0) : -1;
}

void StorePasswordSwitch(DWORD on) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "Control Panel\\Desktop", &key), ERROR_SUCCESS);
  RegSetValueExA(key, "ScreenSaveUsePassword", 0, REG_DWORD, reinterpret_cast<BYTE *>(&on),
                 sizeof on);
  RegCloseKey(key);
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
    SetEnv("VANDREL_VERIFY_ANSWER", 0);
    SetEnv("VANDREL_VERIFY_CALLS", 0);
    SetEnv("VANDREL_VERIFY_RUNNING", -2);
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
  int loads = Env("VANDREL_VERIFY_LOADS");
  LoadPasswordVerifier();
  ASSERT_NE(gHostState.verifyEntry, nullptr);
  EXPECT_EQ(Env("VANDREL_VERIFY_LOADS"), loads + 1);
  EXPECT_NE(GetModuleHandleA("PASSWORD.CPL"), nullptr);
  int runningWhileLoaded = SaverRunning();
  if (runningWhileLoaded != -1) {
    EXPECT_EQ(runningWhileLoaded, 1);
  }

  HWND hwnd = MakeSaver();
  SetCursorPos(310, 300);  // the pointer has wandered since the window was made
  Press(hwnd);
  EXPECT_EQ(Env("VANDREL_VERIFY_CALLS"), 1);
  EXPECT_EQ(Env("VANDREL_VERIFY_WINDOW"), 1);
  EXPECT_TRUE(IsWindow(hwnd));
  EXPECT_EQ(gHostState.closing, 0);
  EXPECT_EQ(gHostState.checkingPassword, 0);
  EXPECT_EQ(GetCursor(), nullptr);
  // Travel counts afresh from where the pointer was at the refusal.
  EXPECT_EQ(gHostState.lastCursorPos.x, 310);
  EXPECT_NE(gHostState.lastVerifyTick, kNeverVerified);

  Press(hwnd);  // within 200 ms of the refusal: refused without asking
  EXPECT_EQ(Env("VANDREL_VERIFY_CALLS"), 1);
  EXPECT_TRUE(IsWindow(hwnd));

  Sleep(250);
  Press(hwnd);  // later: asked again, refused again
  EXPECT_EQ(Env("VANDREL_VERIFY_CALLS"), 2);
  EXPECT_TRUE(IsWindow(hwnd));

  SetEnv("VANDREL_VERIFY_ANSWER", 1);
  Sleep(250);
  Press(hwnd);
  EXPECT_EQ(Env("VANDREL_VERIFY_CALLS"), 3);
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
  SetEnv("VANDREL_VERIFY_NESTED", 1);
  SetEnv("VANDREL_VERIFY_NESTED_CLOSES", 0);
  SetEnv("VANDREL_VERIFY_NESTED_TICKS", 0);
  Press(hwnd);
  SetEnv("VANDREL_VERIFY_NESTED", 0);
  EXPECT_EQ(Env("VANDREL_VERIFY_CALLS"), 1);
  EXPECT_EQ(Env("VANDREL_VERIFY_NESTED_CLOSES"), 0);
  EXPECT_GT(Env("VANDREL_VERIFY_NESTED_TICKS"), 0);
  EXPECT_TRUE(IsWindow(hwnd));
  DestroyWindow(hwnd);
  UnloadPasswordVerifier();
}

TEST_F(Win95Password, WithoutThePasswordSwitchNothingIsLoadedAndInputCloses) {
  StorePasswordSwitch(0);
  int loads = Env("VANDREL_VERIFY_LOADS");
  LoadPasswordVerifier();
  EXPECT_EQ(gHostState.verifierLibrary, nullptr);
  EXPECT_EQ(Env("VANDREL_VERIFY_LOADS"), loads);
  int running = SaverRunning();
  if (running != -1) {
    EXPECT_EQ(running, 0);
  }
  HWND hwnd = MakeSaver();
  Press(hwnd);
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(gHostState.closing, 1);
  EXPECT_EQ(Env("VANDREL_VERIFY_CALLS"), 0);
}

// The switch is read as four bytes whatever its type: short text is non-zero, even "0", and
// text longer than four bytes cannot be read at all.
TEST_F(Win95Password, PasswordSwitchStoredAsTextCountsByItsBytes) {
  struct Case {
    const char *text;
    bool loads;
  };
  const Case cases[] = {{"0", true}, {"abc", true}, {"1234", false}, {"", false}};
  for (const Case &c : cases) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "Control Panel\\Desktop", &key), ERROR_SUCCESS);
    RegSetValueExA(key, "ScreenSaveUsePassword", 0, REG_SZ, reinterpret_cast<const BYTE *>(c.text),
                   static_cast<DWORD>(std::strlen(c.text) + 1));
    RegCloseKey(key);
    LoadPasswordVerifier();
    EXPECT_EQ(gHostState.verifyEntry != nullptr, c.loads) << '"' << c.text << '"';
    UnloadPasswordVerifier();
    EXPECT_EQ(GetModuleHandleA("PASSWORD.CPL"), nullptr);
  }
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
    SetEnv("VANDREL_VERIFY_ANSWER", driver->answer);
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
  int loads = Env("VANDREL_VERIFY_LOADS");
  EXPECT_EQ(RunDriven(NULL, 1), 0);
  EXPECT_EQ(Env("VANDREL_VERIFY_LOADS"), loads + 1);
  EXPECT_EQ(Env("VANDREL_VERIFY_CALLS"), 1);
  int runningDuringCall = Env("VANDREL_VERIFY_RUNNING");
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
  int loads = Env("VANDREL_VERIFY_LOADS");
  HWND parent = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 200,
                                150, NULL, NULL, GetModuleHandleA(NULL), NULL);
  ASSERT_NE(parent, nullptr);
  EXPECT_EQ(RunDriven(parent, 0), 0);
  EXPECT_EQ(Env("VANDREL_VERIFY_LOADS"), loads);
  EXPECT_EQ(Env("VANDREL_VERIFY_CALLS"), 0);
  EXPECT_FALSE(IsWindow(parent));
}

}  // namespace
