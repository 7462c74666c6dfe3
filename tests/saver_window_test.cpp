// The saver window's three procedures under Wine, with real windows and messages through a
// real queue: the close rules, the system-command filter, the closing state, the preview's
// manners, and the working image the effect takes from the screen.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <vector>

#include "effect/effect.h"
#include "host/host.h"
#include "saver_state.h"
#include "win_test_support.h"

namespace {

const char kTestClass[] = "VandrelSaverUnderTest";

// Every call that reaches the platform's default procedure, as the module makes it. System
// commands stop here so that passing one on has no effect on the test display.
struct DefaultCall {
  HWND hwnd;
  UINT msg;
  WPARAM wParam;
};
std::vector<DefaultCall> gDefaultCalls;
WNDPROC gRealDefWindowProc;

LRESULT WINAPI RecordingDefWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  gDefaultCalls.push_back({hwnd, msg, wParam});
  if (msg == WM_SYSCOMMAND) return 0;
  return gRealDefWindowProc(hwnd, msg, wParam, lParam);
}

int DefaultCallsOf(UINT msg, WPARAM wParam) {
  int n = 0;
  for (const DefaultCall &c : gDefaultCalls)
    if (c.msg == msg && c.wParam == wParam) ++n;
  return n;
}

// The preview's parent: keeps what reaches it.
std::vector<MSG> gParentMessages;
HELPINFO gHelpSeen;
LRESULT CALLBACK ParentProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_HELP || msg == WM_CONTEXTMENU) {
    MSG m = {};
    m.hwnd = hwnd;
    m.message = msg;
    m.wParam = wParam;
    m.lParam = lParam;
    gParentMessages.push_back(m);
    if (msg == WM_HELP) gHelpSeen = *reinterpret_cast<HELPINFO *>(lParam);
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// A plain window filled with one colour but for a stripe of another down its right edge: the
// picture the saver starts from. (A screen of one colour alone is one the saver cannot see.)
COLORREF gPictureColor;
const COLORREF kStripeColor = RGB(200, 40, 160);
const int kStripeWidth = 40;
LRESULT CALLBACK PictureProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_ERASEBKGND) {
    RECT r;
    GetClientRect(hwnd, &r);
    HBRUSH brush = CreateSolidBrush(gPictureColor);
    FillRect(reinterpret_cast<HDC>(wParam), &r, brush);
    DeleteObject(brush);
    r.left = r.right - kStripeWidth;
    brush = CreateSolidBrush(kStripeColor);
    FillRect(reinterpret_cast<HDC>(wParam), &r, brush);
    DeleteObject(brush);
    return 1;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

class SaverWindow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    gRealDefWindowProc = reinterpret_cast<WNDPROC>(wintest::PatchImport(
        "user32.dll", "DefWindowProcA", reinterpret_cast<void *>(RecordingDefWindowProc)));
    ASSERT_NE(gRealDefWindowProc, nullptr);
    WNDCLASSA c = {};
    c.style = CS_OWNDC | CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW;
    c.lpfnWndProc = HostWindowProc;
    c.hInstance = GetModuleHandleA(NULL);
    c.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    c.lpszClassName = kTestClass;
    ASSERT_TRUE(RegisterClassA(&c));
    c.style = 0;
    c.lpfnWndProc = ParentProc;
    c.lpszClassName = "VandrelTestParent";
    ASSERT_TRUE(RegisterClassA(&c));
    c.lpfnWndProc = PictureProc;
    c.lpszClassName = "VandrelTestPicture";
    ASSERT_TRUE(RegisterClassA(&c));
  }

  void SetUp() override {
    wintest::ResetSaverState();
    gDefaultCalls.clear();
    gParentMessages.clear();
    SetCursorPos(500, 400);
  }

  void TearDown() override {
    for (HWND w : windows_)
      if (IsWindow(w)) DestroyWindow(w);
    wintest::Pump(20);
  }

  // The full-screen kind of window, kept small and hidden unless the test needs pixels.
  HWND MakeSaver(int x = 0, int y = 0, int w = 64, int h = 48, bool visible = false) {
    HWND hwnd = CreateWindowExA(WS_EX_TOPMOST, kTestClass, "Screen Saver",
                                WS_POPUP | (visible ? WS_VISIBLE : 0), x, y, w, h, NULL, NULL,
                                GetModuleHandleA(NULL), NULL);
    EXPECT_NE(hwnd, nullptr);
    windows_.push_back(hwnd);
    return hwnd;
  }

  HWND MakeParent() {
    HWND p = CreateWindowExA(0, "VandrelTestParent", "parent", WS_OVERLAPPEDWINDOW, 10, 10, 160,
                             120, NULL, NULL, GetModuleHandleA(NULL), NULL);
    EXPECT_NE(p, nullptr);
    windows_.push_back(p);
    return p;
  }

  HWND MakePreview(HWND parent) {
    gHostState.isPreview = 1;
    RECT r;
    GetClientRect(parent, &r);
    HWND hwnd =
        CreateWindowExA(0, kTestClass, "Preview", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0,
                        r.right, r.bottom, parent, NULL, GetModuleHandleA(NULL), NULL);
    EXPECT_NE(hwnd, nullptr);
    windows_.push_back(hwnd);
    return hwnd;
  }

  // Sends the pointer to (x, y) and lets the window hear of a move.
  static void MovePointer(HWND hwnd, int x, int y) {
    ASSERT_TRUE(SetCursorPos(x, y));
    PostMessageA(hwnd, WM_MOUSEMOVE, 0, 0);
    wintest::Pump(30);
  }

  std::vector<HWND> windows_;
};

TEST_F(SaverWindow, PointerTravelOfFourDoesNotCloseAndTheFifthPixelDoes) {
  HWND hwnd = MakeSaver();
  POINT created = gHostState.lastCursorPos;
  EXPECT_EQ(created.x, 500);
  EXPECT_EQ(created.y, 400);
  MovePointer(hwnd, 503, 401);  // 3 + 1
  EXPECT_TRUE(IsWindow(hwnd));
  MovePointer(hwnd, 501, 399);  // back and forth: still measured from (500, 400)
  EXPECT_TRUE(IsWindow(hwnd));
  MovePointer(hwnd, 504, 401);  // 4 + 1, against the point taken at creation
  EXPECT_FALSE(IsWindow(hwnd));
}

TEST_F(SaverWindow, PointerTravelCountsBothAxesAndBothDirections) {
  HWND hwnd = MakeSaver();
  MovePointer(hwnd, 498, 403);  // 2 + 3
  EXPECT_FALSE(IsWindow(hwnd));
}

TEST_F(SaverWindow, EveryKeyAndButtonPressCloses) {
  const UINT presses[] = {WM_KEYDOWN, WM_SYSKEYDOWN, WM_LBUTTONDOWN, WM_RBUTTONDOWN,
                          WM_MBUTTONDOWN};
  for (UINT press : presses) {
    HWND hwnd = MakeSaver();
    wintest::Pump(20);
    ASSERT_TRUE(IsWindow(hwnd));
    PostMessageA(hwnd, press, 0x41, 0);
    wintest::Pump(30);
    EXPECT_FALSE(IsWindow(hwnd)) << "message " << press;
  }
}

// Once another program has the foreground, the keys typed next go to it, unseen beneath the
// saver: losing activation closes the saver like input does.
TEST_F(SaverWindow, LosingActivationClosesAndGainingItDoesNot) {
  HWND hwnd = MakeSaver();
  PostMessageA(hwnd, WM_ACTIVATEAPP, 1, 0);
  wintest::Pump(50);
  EXPECT_TRUE(IsWindow(hwnd));
  PostMessageA(hwnd, WM_ACTIVATEAPP, 0, 0);
  wintest::Pump(50);
  EXPECT_FALSE(IsWindow(hwnd));
}

TEST_F(SaverWindow, PreviewIgnoresEveryKindOfInput) {
  HWND parent = MakeParent();
  HWND hwnd = MakePreview(parent);
  const UINT presses[] = {WM_KEYDOWN,     WM_SYSKEYDOWN,  WM_LBUTTONDOWN,
                          WM_RBUTTONDOWN, WM_MBUTTONDOWN, WM_ACTIVATEAPP};
  for (UINT press : presses) PostMessageA(hwnd, press, 0, 0);
  MovePointer(hwnd, 700, 700);
  wintest::Pump(30);
  EXPECT_TRUE(IsWindow(hwnd));
  EXPECT_EQ(DefaultCallsOf(WM_CLOSE, 0), 0);
  // Its end comes from outside.
  SendMessageA(parent, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(hwnd));
}

TEST_F(SaverWindow, RefusesOnlyTheThreeWholeSystemCommands) {
  HWND hwnd = MakeSaver();
  const WPARAM refused[] = {SC_NEXTWINDOW, SC_PREVWINDOW, SC_SCREENSAVE};
  for (WPARAM command : refused) {
    EXPECT_EQ(SendMessageA(hwnd, WM_SYSCOMMAND, command, 0), 0);
    EXPECT_EQ(DefaultCallsOf(WM_SYSCOMMAND, command), 0) << std::hex << command;
  }
  const WPARAM passed[] = {SC_NEXTWINDOW | 1, SC_PREVWINDOW | 2, SC_SCREENSAVE | 0xF,
                           SC_KEYMENU,        SC_TASKLIST,       SC_MINIMIZE};
  for (WPARAM command : passed) {
    SendMessageA(hwnd, WM_SYSCOMMAND, command, 0);
    EXPECT_EQ(DefaultCallsOf(WM_SYSCOMMAND, command), 1) << std::hex << command;
  }
}

TEST_F(SaverWindow, PreviewPassesEverySystemCommandOn) {
  HWND hwnd = MakePreview(MakeParent());
  SendMessageA(hwnd, WM_SYSCOMMAND, SC_NEXTWINDOW, 0);
  SendMessageA(hwnd, WM_SYSCOMMAND, SC_SCREENSAVE, 0);
  EXPECT_EQ(DefaultCallsOf(WM_SYSCOMMAND, SC_NEXTWINDOW), 1);
  EXPECT_EQ(DefaultCallsOf(WM_SYSCOMMAND, SC_SCREENSAVE), 1);
}

TEST_F(SaverWindow, TicksRunTheStepUntilTheSaverIsClosing) {
  HWND hwnd = MakeSaver();
  ASSERT_NE(gEffectState.timerId, 0);
  uint32_t seed = gEffectState.seed;
  wintest::Pump(60);  // the effect's own 0 ms timer
  EXPECT_NE(gEffectState.seed, seed);

  gHostState.closing = 1;
  seed = gEffectState.seed;
  PostMessageA(hwnd, WM_TIMER, 1, 0);
  PostMessageA(hwnd, WM_KEYDOWN, 0x41, 0);
  wintest::Pump(60);
  EXPECT_EQ(gEffectState.seed, seed);  // no step ran
  EXPECT_TRUE(IsWindow(hwnd));         // and input no longer asks to close
  EXPECT_EQ(DefaultCallsOf(WM_KEYDOWN, 0x41), 1);
}

// An input method the process already has is detached from the window for its life.
TEST_F(SaverWindow, InputMethodAlreadyLoadedIsDetached) {
  HMODULE imm = LoadLibraryA("IMM32.DLL");
  ASSERT_NE(imm, nullptr);
  HWND hwnd = MakeSaver();
  EXPECT_EQ(gHostState.immModule, imm);
  ASSERT_NE(gHostState.immAssociateEntry, nullptr);
  typedef HIMC(WINAPI * GetContext)(HWND);
  typedef BOOL(WINAPI * ReleaseContext)(HWND, HIMC);
  GetContext getContext =
      reinterpret_cast<GetContext>(reinterpret_cast<void *>(GetProcAddress(imm, "ImmGetContext")));
  ReleaseContext releaseContext = reinterpret_cast<ReleaseContext>(
      reinterpret_cast<void *>(GetProcAddress(imm, "ImmReleaseContext")));
  HIMC context = getContext(hwnd);
  EXPECT_EQ(context, nullptr);
  if (context != NULL) releaseContext(hwnd, context);
  EXPECT_NE(gHostState.previousImeContext, nullptr);
  FreeLibrary(imm);
}

// The input method as the saver finds it: no IMM32.DLL in the process, one without the entry
// the saver uses, or one that is there, whose context the saver takes away and gives back.
enum class ImmShape { Missing, WithoutEntry, Present };
ImmShape gImmShape;
struct ImmCall {
  HWND hwnd;
  HIMC context;
};
std::vector<ImmCall> gImmCalls;
typedef HMODULE(WINAPI *GetModuleHandleProc)(LPCSTR);
typedef FARPROC(WINAPI *GetProcAddressProc)(HMODULE, LPCSTR);
GetModuleHandleProc gRealGetModuleHandle;
GetProcAddressProc gRealGetProcAddress;
ImmAssociateContextProc gRealAssociate;

HIMC WINAPI RecordingAssociate(HWND hwnd, HIMC context) {
  gImmCalls.push_back({hwnd, context});
  return gRealAssociate(hwnd, context);
}

HMODULE WINAPI ShapedGetModuleHandle(LPCSTR name) {
  if (name != NULL && lstrcmpiA(name, "IMM32.DLL") == 0 && gImmShape == ImmShape::Missing)
    return NULL;
  return gRealGetModuleHandle(name);
}

FARPROC WINAPI ShapedGetProcAddress(HMODULE module, LPCSTR name) {
  FARPROC real = gRealGetProcAddress(module, name);
  if (HIWORD(reinterpret_cast<ULONG_PTR>(name)) == 0 || std::strcmp(name, "ImmAssociateContext"))
    return real;
  if (gImmShape == ImmShape::WithoutEntry) return NULL;
  gRealAssociate = reinterpret_cast<ImmAssociateContextProc>(reinterpret_cast<void *>(real));
  return reinterpret_cast<FARPROC>(reinterpret_cast<void *>(RecordingAssociate));
}

TEST_F(SaverWindow, InputMethodMissingBrokenOrPresentIsLeftAsItWas) {
  HMODULE imm = LoadLibraryA("IMM32.DLL");
  ASSERT_NE(imm, nullptr);
  gRealGetModuleHandle = reinterpret_cast<GetModuleHandleProc>(wintest::PatchImport(
      "kernel32.dll", "GetModuleHandleA", reinterpret_cast<void *>(ShapedGetModuleHandle)));
  gRealGetProcAddress = reinterpret_cast<GetProcAddressProc>(wintest::PatchImport(
      "kernel32.dll", "GetProcAddress", reinterpret_cast<void *>(ShapedGetProcAddress)));
  ASSERT_NE(gRealGetModuleHandle, nullptr);
  ASSERT_NE(gRealGetProcAddress, nullptr);

  for (ImmShape shape : {ImmShape::Missing, ImmShape::WithoutEntry, ImmShape::Present}) {
    wintest::ResetSaverState();
    gImmShape = shape;
    gImmCalls.clear();
    HWND hwnd = MakeSaver();
    EXPECT_EQ(gHostState.immModule != NULL, shape != ImmShape::Missing);
    EXPECT_EQ(gHostState.immAssociateEntry != NULL, shape == ImmShape::Present);
    PostMessageA(hwnd, WM_TIMER, 1, 0);
    PostMessageA(hwnd, WM_KEYDOWN, 0x41, 0);
    EXPECT_TRUE(wintest::PumpUntil([&] { return !IsWindow(hwnd); }, 2000))
        << "the saver did not close";
    if (shape != ImmShape::Present) {
      EXPECT_TRUE(gImmCalls.empty());
      continue;
    }
    // Detached on creation; the context it had is back before the window is gone.
    ASSERT_EQ(gImmCalls.size(), 2u);
    EXPECT_EQ(gImmCalls[0].hwnd, hwnd);
    EXPECT_EQ(gImmCalls[0].context, nullptr);
    EXPECT_EQ(gImmCalls[1].hwnd, hwnd);
    EXPECT_NE(gImmCalls[1].context, nullptr);
    EXPECT_EQ(gImmCalls[1].context, gHostState.previousImeContext);
  }
  wintest::PatchImport("kernel32.dll", "GetModuleHandleA",
                       reinterpret_cast<void *>(gRealGetModuleHandle));
  wintest::PatchImport("kernel32.dll", "GetProcAddress",
                       reinterpret_cast<void *>(gRealGetProcAddress));
  FreeLibrary(imm);
}

// The display's power: a power-setting change (by pointer: sent within the process), or the
// command that powers monitors. Off: no timer, no step; on or dimmed: the timer back and a frame
// at once; the command still reaches the system. Input under the close threshold counts as "on"
// too (before Vista nothing else does), but not a pointer that has not moved.
const GUID kState = {0x6FE69556, 0x704A, 0x47A0, {0x8F, 0x24, 0xC2, 0x8D, 0x93, 0x6F, 0xDA, 0x47}};
const GUID kPower = {0x02731015, 0x4510, 0x4526, {0x99, 0xE6, 0xE5, 0xA1, 0x7E, 0xBD, 0x1A, 0xEA}};
const GUID kSession = {
    0x2B84C20E, 0xAD23, 0x4DDF, {0x93, 0xDB, 0x05, 0xFF, 0xBD, 0x7E, 0xFC, 0xA5}};
// In a remote session only the session's own display counts, not the machine's monitor.
int gRemoteSession;
int WINAPI SessionMetrics(int index) {
  return index == SM_REMOTESESSION ? gRemoteSession : GetSystemMetrics(index);
}
struct PowerSignal {
  const GUID *setting;  // nullptr: SC_MONITORPOWER with `value` as its lParam
  LPARAM value;
  bool lit;
  int remote = 0;
} const kPowerSignals[] = {{&kState, 0, false},    {&kState, 2, true},     {&kState, 0, false},
                           {&kState, 1, true},     {&kPower, 0, false},    {&kPower, 1, true},
                           {nullptr, 2, false},    {nullptr, -1, true},    {nullptr, 2, false},
                           {nullptr, 1, true},     {&kSession, 0, false},  {&kSession, 1, true},
                           {&kState, 0, true, 1},  {&kPower, 0, true, 1},  {&kSession, 0, false, 1},
                           {&kState, 1, false, 1}, {&kSession, 1, true, 1}};
void SendPowerSignal(HWND hwnd, const PowerSignal &s) {
  struct {
    GUID setting;
    DWORD length, state;
  } change = {s.setting ? *s.setting : GUID{}, sizeof(DWORD), static_cast<DWORD>(s.value)};
  SendMessageA(hwnd, s.setting ? WM_POWERBROADCAST : WM_SYSCOMMAND, s.setting ? 0x8013 : 0xF170,
               s.setting ? reinterpret_cast<LPARAM>(&change) : s.value);
}
bool Melts(HWND hwnd) {  // from the timer, and from a tick already queued
  uint32_t seed = gEffectState.seed;
  PostMessageA(hwnd, WM_TIMER, 1, 0);
  wintest::Pump(80);
  return gEffectState.seed != seed;
}

TEST_F(SaverWindow, NothingRunsWhileTheDisplayIsOff) {
  for (int preview = 0; preview < 2; ++preview) {
    wintest::ResetSaverState();
    gDefaultCalls.clear();
    SetCursorPos(500, 400);
    HWND hwnd = preview ? MakePreview(MakeParent()) : MakeSaver();
    EXPECT_NE(gEffectState.powerNotifications[2], nullptr) << "not registered";
    EXPECT_TRUE(Melts(hwnd));
    void *metrics = wintest::PatchImport("user32.dll", "GetSystemMetrics",
                                         reinterpret_cast<void *>(SessionMetrics));
    bool lit = true;
    for (const PowerSignal &s : kPowerSignals) {
      gRemoteSession = s.remote;
      SendPowerSignal(hwnd, s);
      EXPECT_EQ(gEffectState.timerId != 0, s.lit) << preview;
      EXPECT_TRUE(!s.lit || lit || gEffectState.frameShown == 0) << "no frame at once";
      lit = s.lit;
      EXPECT_EQ(Melts(hwnd), s.lit) << preview << " " << s.value;
    }
    wintest::PatchImport("user32.dll", "GetSystemMetrics", metrics);
    EXPECT_EQ(DefaultCallsOf(WM_SYSCOMMAND, SC_MONITORPOWER), 4);
    SendPowerSignal(hwnd, kPowerSignals[0]);
    MovePointer(hwnd, 500, 400);
    EXPECT_FALSE(Melts(hwnd));
    MovePointer(hwnd, 502, 401);
    EXPECT_TRUE(Melts(hwnd));
    EXPECT_TRUE(IsWindow(hwnd));
    // Waking from a suspension lights the displays where nothing reports their state.
    SendPowerSignal(hwnd, kPowerSignals[0]);
    SendMessageA(hwnd, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0);
    EXPECT_FALSE(Melts(hwnd)) << "the wake outweighed the display's own state";
    HANDLE *reports = gEffectState.powerNotifications,
           kept[std::size(gEffectState.powerNotifications)];
    std::memcpy(kept, reports, sizeof kept);
    std::memset(reports, 0, sizeof kept);  // as before Vista
    SendMessageA(hwnd, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0);
    EXPECT_TRUE(Melts(hwnd)) << "the wake left the melt standing";
    std::memcpy(reports, kept, sizeof kept);
    DestroyWindow(hwnd);
    EXPECT_EQ(gEffectState.powerNotifications[2], nullptr) << "not unregistered";
  }
}

// A display change for which no new image can be made: the old image goes on over what it
// covers and the steps stay inside it. Once an image can be made it covers the new screen, although
// the window is already there.
HBITMAP WINAPI NoBitmap(HDC, const BITMAPINFO *, UINT, void **, HANDLE, DWORD) {
  return NULL;
}
TEST_F(SaverWindow, ADisplayChangeWithoutMemoryForItsImageKeepsTheOldOne) {
  HWND hwnd = MakeSaver();
  void *real =
      wintest::PatchImport("gdi32.dll", "CreateDIBSection", reinterpret_cast<void *>(NoBitmap));
  SendMessageA(hwnd, WM_TIMER, kRefitTimerId, 0);
  RECT r, screen = FullScreenRect();
  EXPECT_TRUE(GetWindowRect(hwnd, &r) && EqualRect(&r, &screen));
  EXPECT_EQ(gEffectState.right, 64);
  EXPECT_EQ(gEffectState.bottom, 48);
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(Melts(hwnd));
  wintest::PatchImport("gdi32.dll", "CreateDIBSection", real);
  SendMessageA(hwnd, WM_TIMER, kRefitTimerId, 0);
  EXPECT_EQ(gEffectState.right, screen.right - screen.left) << "the image is still the old one";
  EXPECT_TRUE(Melts(hwnd));
  PostMessageA(hwnd, WM_KEYDOWN, 0x41, 0);
  wintest::Pump(30);
  EXPECT_FALSE(IsWindow(hwnd));
}

// Steps the generator took from one state to another, 2000 draws each; -1 beyond `most`.
int StepsBetween(uint32_t from, uint32_t to, int most) {
  for (int draws = 0; draws <= most * 2 * kSamplesPerStep;
       ++draws, from = from * 214013u + 2531011u)
    if (from == to) return draws / (2 * kSamplesPerStep);
  return -1;
}

// Past its first second: ten wakes a second, at the pace of a 0 ms timer of the test's own, two
// wakes' worth after a stall; a lossy melt gone black stops the timer until the display is on.
TEST_F(SaverWindow, WakesTenTimesASecondAtTheZeroTimersPaceAndStopsAtTheEnd) {
  int timerTicks = 0, wakes = 0;
  UINT_PTR own = SetTimer(NULL, 0, 0, NULL);
  wintest::Pump(1000, &timerTicks);
  KillTimer(NULL, own);
  HWND hwnd = MakeSaver(120, 110, 200, 140, true);
  ASSERT_NE(gEffectState.image.pixels, nullptr);
  // A stall while the pace is counted (the wallpaper drawn over a large screen) is no slower
  // timer.
  wintest::Pump(200);
  Sleep(500);
  wintest::Pump(kPaceCountMs + 500);
  uint32_t seed = gEffectState.seed;
  wintest::Pump(3000, &wakes, hwnd);
  int steps = StepsBetween(seed, gEffectState.seed, 1000);
  std::printf("0 ms timer %d ticks/s; saver %.1f wakes/s, %.1f steps/s (pace counted %u/s)\n",
              timerTicks, wakes / 3.0, steps / 3.0, gEffectState.stepsPerSecond);
  EXPECT_TRUE(wakes >= 20 && wakes <= 36) << wakes;
  EXPECT_NEAR(steps / 3.0, timerTicks, timerTicks * 0.15);
  Sleep(1000);
  seed = gEffectState.seed;
  wintest::PumpUntil([&] { return gEffectState.seed != seed; }, 1000);
  EXPECT_LE(StepsBetween(seed, gEffectState.seed, 1000), 2 * timerTicks / 10 + 1) << "a burst";
  // Black stays black: a wake or two that change nothing are no end yet, a second of them is.
  gSettings.lossy = 1;
  std::memset(gEffectState.image.pixels, 0, 200 * 140 * 4);
  wintest::Pump(250);
  EXPECT_NE(gEffectState.timerId, 0) << "stopped at the first wake that changed nothing";
  wintest::PumpUntil([] { return gEffectState.timerId == 0; }, 3000);
  wakes = 0;
  wintest::Pump(1000, &wakes, hwnd);
  EXPECT_TRUE(gEffectState.timerId == 0 && wakes == 0) << wakes << " wakes, nothing to change";
  SendPowerSignal(hwnd, kPowerSignals[0]);
  SendPowerSignal(hwnd, kPowerSignals[1]);
  EXPECT_NE(gEffectState.timerId, 0) << "the display came back to a stopped melt";
}

TEST_F(SaverWindow, TitleCannotBeChanged) {
  HWND hwnd = MakeSaver();
  EXPECT_FALSE(SetWindowTextA(hwnd, "something else"));
  char title[64] = {};
  GetWindowTextA(hwnd, title, sizeof title);
  EXPECT_STREQ(title, "Screen Saver");
}

TEST_F(SaverWindow, PreviewForwardsHelpAndContextMenuToItsParent) {
  HWND parent = MakeParent();
  HWND hwnd = MakePreview(parent);
  EXPECT_EQ(SendMessageA(hwnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(hwnd), MAKELPARAM(7, 9)),
            1);
  EXPECT_TRUE(gParentMessages.empty());  // posted: it arrives through the queue
  wintest::Pump(30);
  ASSERT_EQ(gParentMessages.size(), 1u);
  EXPECT_EQ(gParentMessages[0].message, static_cast<UINT>(WM_CONTEXTMENU));
  EXPECT_EQ(gParentMessages[0].wParam, reinterpret_cast<WPARAM>(parent));
  EXPECT_EQ(gParentMessages[0].lParam, MAKELPARAM(7, 9));

  // The help request's HELPINFO must still be there when the parent reads it.
  HELPINFO help = {};
  help.cbSize = sizeof help;
  help.iContextType = HELPINFO_WINDOW;
  help.iCtrlId = 321;
  help.hItemHandle = hwnd;
  help.MousePos = {11, 22};
  gHelpSeen = HELPINFO{};
  EXPECT_EQ(SendMessageA(hwnd, WM_HELP, 0, reinterpret_cast<LPARAM>(&help)), 1);
  wintest::Pump(30);
  ASSERT_EQ(gParentMessages.size(), 2u);
  EXPECT_EQ(gParentMessages[1].message, static_cast<UINT>(WM_HELP));
  EXPECT_EQ(gParentMessages[1].wParam, reinterpret_cast<WPARAM>(parent));
  EXPECT_EQ(gHelpSeen.iCtrlId, 321);
  EXPECT_EQ(gHelpSeen.MousePos.y, 22);
}

TEST_F(SaverWindow, FullScreenKindDoesNotForwardContextMenu) {
  HWND hwnd = MakeSaver();
  SendMessageA(hwnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(hwnd), 0);
  EXPECT_EQ(DefaultCallsOf(WM_CONTEXTMENU, reinterpret_cast<WPARAM>(hwnd)), 1);
}

// On a palette display the window's context holds the system palette as the saver found it,
// so that frames keep the desktop's colours; it goes with the window. (The test display has
// true colour: the two calls that tell of a palette display answer as one would.)
int(WINAPI *gRealDeviceCaps)(HDC, int);
int WINAPI PaletteDeviceCaps(HDC dc, int index) {
  return gRealDeviceCaps(dc, index) | (index == RASTERCAPS ? RC_PALETTE : 0);
}
UINT WINAPI SystemPalette(HDC, UINT first, UINT count, PALETTEENTRY *entries) {
  for (UINT i = 0; i < count; ++i) entries[i] = {BYTE(first + i), BYTE(~i), BYTE(i * 7), 0};
  return count;
}
TEST_F(SaverWindow, OnAPaletteDisplayFramesUseTheSystemPalette) {
  gRealDeviceCaps = reinterpret_cast<int(WINAPI *)(HDC, int)>(wintest::PatchImport(
      "gdi32.dll", "GetDeviceCaps", reinterpret_cast<void *>(PaletteDeviceCaps)));
  void *realPalette = wintest::PatchImport("gdi32.dll", "GetSystemPaletteEntries",
                                           reinterpret_cast<void *>(SystemPalette));
  HWND hwnd = MakeSaver();
  wintest::PatchImport("gdi32.dll", "GetDeviceCaps", reinterpret_cast<void *>(gRealDeviceCaps));
  wintest::PatchImport("gdi32.dll", "GetSystemPaletteEntries", realPalette);
  HPALETTE palette = static_cast<HPALETTE>(GetCurrentObject(gEffectState.dc, OBJ_PAL));
  PALETTEENTRY kept[256], system[256];
  SystemPalette(NULL, 0, 256, system);
  ASSERT_EQ(GetPaletteEntries(palette, 0, 256, kept), 256u) << "the default palette";
  EXPECT_EQ(std::memcmp(kept, system, sizeof kept), 0);
  EXPECT_TRUE(SendMessageA(hwnd, WM_QUERYNEWPALETTE, 0, 0));
  DestroyWindow(hwnd);
  EXPECT_EQ(gEffectState.palette, nullptr);
}

TEST_F(SaverWindow, ErasesNothing) {
  HWND hwnd = MakeSaver();
  HDC dc = GetDC(hwnd);
  EXPECT_EQ(SendMessageA(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0), 1);
  ReleaseDC(hwnd, dc);
  EXPECT_EQ(DefaultCallsOf(WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc)), 0);
}

// The picture under the saver is what the saver shows and works on, though its own window
// surface starts black.
TEST_F(SaverWindow, ShowsAndSmearsTheScreenItCovers) {
  gPictureColor = RGB(20, 180, 90);
  HWND picture = CreateWindowExA(0, "VandrelTestPicture", "picture", WS_POPUP | WS_VISIBLE, 100,
                                 100, 240, 160, NULL, NULL, GetModuleHandleA(NULL), NULL);
  windows_.push_back(picture);
  UpdateWindow(picture);
  wintest::Pump(100);
  HDC screen = GetDC(NULL);
  ASSERT_EQ(GetPixel(screen, 200, 180), gPictureColor);

  HWND hwnd = MakeSaver(120, 110, 200, 140, true);
  ASSERT_NE(gEffectState.image.pixels, nullptr);
  ImageSurface image = {gEffectState.image.pixels, 200, 140};
  EXPECT_EQ(image.Read(0, 0), gPictureColor);
  EXPECT_EQ(image.Read(179, 139), gPictureColor);
  EXPECT_EQ(image.Read(199, 139), kStripeColor);  // the picture's right edge is at 340
  wintest::Pump(200);
  // The window's first paint shows the picture, and the smearing keeps uniform colour uniform
  // away from the borders, where black creeps in.
  EXPECT_EQ(GetPixel(screen, 220, 180), gPictureColor);
  EXPECT_EQ(GetPixel(screen, 150, 150), gPictureColor);
  EXPECT_EQ(image.Read(100, 70), gPictureColor);
  int changedEdge = 0;
  for (int32_t x = 0; x < 170; ++x) changedEdge += image.Read(x, 0) != gPictureColor;
  EXPECT_GT(changedEdge, 0);
  // A later paint repaints from the image, not black.
  InvalidateRect(hwnd, NULL, TRUE);
  UpdateWindow(hwnd);
  EXPECT_EQ(GetPixel(screen, 220, 180), gPictureColor);
  ReleaseDC(NULL, screen);
  DestroyWindow(hwnd);
  EXPECT_EQ(gEffectState.image.dc, nullptr);
  EXPECT_EQ(gEffectState.image.pixels, nullptr);
  EXPECT_EQ(gEffectState.timerId, 0);
}

// The screen's pixels in `r`, 0x00RRGGBB top-down, as the working image keeps them.
std::vector<uint32_t> ScreenPixels(const RECT &r) {
  int w = r.right - r.left, h = r.bottom - r.top;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void *bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(NULL, &info, DIB_RGB_COLORS, &bits, NULL, 0);
  HDC mem = CreateCompatibleDC(NULL);
  HGDIOBJ old = SelectObject(mem, bitmap);
  HDC screen = GetDC(NULL);
  BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  ReleaseDC(NULL, screen);
  GdiFlush();
  const uint32_t *p = static_cast<const uint32_t *>(bits);
  std::vector<uint32_t> pixels(p, p + static_cast<size_t>(w) * h);
  SelectObject(mem, old);
  DeleteDC(mem);
  DeleteObject(bitmap);
  return pixels;
}

// Pixels where the screen inside the saver's window does not show the working image.
int PixelsOffImage(const RECT &window) {
  std::vector<uint32_t> screen = ScreenPixels(window);
  int off = 0;
  for (size_t i = 0; i < screen.size(); ++i) off += screen[i] != gEffectState.image.pixels[i];
  return off;
}

int PixelsOffColour(const std::vector<uint32_t> &pixels, COLORREF colour) {
  uint32_t dib = ImageSurface::SwapRedBlue(colour);
  int off = 0;
  for (uint32_t p : pixels) off += p != dib;
  return off;
}

// Blits onto the saver window's own context, the way a frame reaches the window; each can be
// made to take a while, as on a slow display.
int gFrameBlits;
DWORD gFrameBlitMs;
typedef BOOL(WINAPI *BitBltProc)(HDC, int, int, int, int, HDC, int, int, DWORD);
BitBltProc gRealBitBlt;
BOOL WINAPI CountingBitBlt(HDC dc, int x, int y, int w, int h, HDC source, int sx, int sy,
                           DWORD rop) {
  if (dc == gEffectState.dc && source == gEffectState.image.dc) {
    ++gFrameBlits;
    Sleep(gFrameBlitMs);
  }
  return gRealBitBlt(dc, x, y, w, h, source, sx, sy, rop);
}

// Ticks change the working image only; the window catches up in whole frames: at the first
// tick, then no sooner than a frame interval after the last frame.
TEST_F(SaverWindow, TheImageReachesTheWindowInWholeFrames) {
  gPictureColor = RGB(200, 60, 140);
  HWND picture = CreateWindowExA(0, "VandrelTestPicture", "picture", WS_POPUP | WS_VISIBLE, 100,
                                 100, 240, 160, NULL, NULL, GetModuleHandleA(NULL), NULL);
  windows_.push_back(picture);
  UpdateWindow(picture);
  wintest::Pump(100);
  gRealBitBlt = reinterpret_cast<BitBltProc>(
      wintest::PatchImport("gdi32.dll", "BitBlt", reinterpret_cast<void *>(CountingBitBlt)));
  ASSERT_NE(gRealBitBlt, nullptr);

  const RECT area = {120, 110, 320, 250};
  HWND hwnd = MakeSaver(area.left, area.top, 200, 140, true);
  ASSERT_NE(gEffectState.image.pixels, nullptr);
  // The ticks come from this test from here on, one at a time, and no paint comes between:
  // whatever reaches the window is a frame.
  ASSERT_NE(gEffectState.timerId, 0);
  KillTimer(hwnd, gEffectState.timerId);
  ValidateRect(hwnd, NULL);
  ASSERT_EQ(gEffectState.seed, 0u) << "a step ran before the first tick";
  gFrameBlits = 0;

  // The first tick shows at once, however soon it comes after the window was made.
  PostMessageA(hwnd, WM_TIMER, 1, 0);
  wintest::Pump(30);
  uint32_t firstFrame = gEffectState.lastFrameTick;
  EXPECT_EQ(gFrameBlits, 1);
  EXPECT_EQ(PixelsOffImage(area), 0);
  std::vector<uint32_t> shown = ScreenPixels(area);
  // The picture's stripe is in neither colour's count.
  int offPicture = PixelsOffColour(shown, gPictureColor) - static_cast<int>(shown.size()) +
                   PixelsOffColour(shown, kStripeColor);
  EXPECT_GT(offPicture, 0) << "the step changed nothing";
  EXPECT_LT(offPicture, 2000) << "not the picture";

  // A tick soon after a frame changes the image but waits for the next frame.
  PostMessageA(hwnd, WM_TIMER, 1, 0);
  wintest::Pump(10);
  if (ElapsedMs(firstFrame, GetTickCount()) < kFrameIntervalMs) {
    EXPECT_EQ(gFrameBlits, 1);
    EXPECT_GT(PixelsOffImage(area), 0);
  }

  // Once the interval has passed, the next tick brings the window up to date.
  Sleep(kFrameIntervalMs);
  PostMessageA(hwnd, WM_TIMER, 1, 0);
  wintest::Pump(30);
  EXPECT_EQ(PixelsOffImage(area), 0);
  EXPECT_GE(ElapsedMs(firstFrame, gEffectState.lastFrameTick), kFrameIntervalMs);
  EXPECT_EQ(gFrameBlits, 2);

  wintest::PatchImport("gdi32.dll", "BitBlt", reinterpret_cast<void *>(gRealBitBlt));
}

// Where a frame is slow to draw, the next waits longer, though less than a second for one slow
// frame, and the steps go on at the timer's pace meanwhile.
TEST_F(SaverWindow, SlowFramesComeFurtherApart) {
  gRealBitBlt = reinterpret_cast<BitBltProc>(
      wintest::PatchImport("gdi32.dll", "BitBlt", reinterpret_cast<void *>(CountingBitBlt)));
  ASSERT_NE(gRealBitBlt, nullptr);
  HWND hwnd = MakeSaver(120, 110, 200, 140, true);
  ASSERT_NE(gEffectState.image.pixels, nullptr);
  KillTimer(hwnd, gEffectState.timerId);
  ValidateRect(hwnd, NULL);
  gFrameBlits = 0;
  gFrameBlitMs = 80;

  PostMessageA(hwnd, WM_TIMER, 1, 0);
  wintest::Pump(30);
  ASSERT_EQ(gFrameBlits, 1);
  uint32_t firstFrame = gEffectState.lastFrameTick;
  uint32_t interval = FrameIntervalMs(gEffectState.frameCostUs);
  EXPECT_GE(gEffectState.frameCostUs, 75000u / 16);
  EXPECT_LT(interval, kFrameIntervalMs + 1000);
  ASSERT_GT(interval, kFrameIntervalMs + 100);

  // Past the usual interval, but not past the slow frame's: a step, no frame.
  Sleep(kFrameIntervalMs + 20);
  uint32_t seed = gEffectState.seed;
  PostMessageA(hwnd, WM_TIMER, 1, 0);
  wintest::Pump(10);
  EXPECT_NE(gEffectState.seed, seed) << "no step ran";
  if (ElapsedMs(firstFrame, GetTickCount()) < interval) {
    EXPECT_EQ(gFrameBlits, 1);
  }

  wintest::PumpUntil([&] { return ElapsedMs(firstFrame, GetTickCount()) >= interval; }, 5000);
  PostMessageA(hwnd, WM_TIMER, 1, 0);
  wintest::Pump(30);
  EXPECT_EQ(gFrameBlits, 2);
  gFrameBlitMs = 0;
  wintest::PatchImport("gdi32.dll", "BitBlt", reinterpret_cast<void *>(gRealBitBlt));
}

// A run that cannot make its window class fails at once, without a message loop.
TEST_F(SaverWindow, RunFailsWhenTheClassCannotBeRegistered) {
  WNDCLASSA c = {};
  c.lpfnWndProc = DefWindowProcA;
  c.hInstance = GetModuleHandleA(NULL);
  c.lpszClassName = "WindowsScreenSaverClass";
  ASSERT_TRUE(RegisterClassA(&c));
  EXPECT_EQ(RunSaverWindow(MakeParent()), -1);
  EXPECT_EQ(gHostState.mainWindow, nullptr);
  gHostState.isPreview = 0;
  EXPECT_EQ(RunSaverWindow(NULL), -1);
  EXPECT_EQ(gHostState.mainWindow, nullptr);
  EXPECT_FALSE(wintest::Pump(20));  // no quit message was left behind
  UnregisterClassA("WindowsScreenSaverClass", GetModuleHandleA(NULL));
}

// The two surfaces read the same samples and make the same writes in the same order: the
// working image ends exactly where the window's own pixels do.
TEST(SmearSurfaces, ImageAndDeviceSurfacesSmearAlike) {
  const int w = 64, h = 40;
  for (int32_t method = 1; method <= 3; ++method) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    uint32_t *deviceBits = nullptr;
    HBITMAP bitmap = CreateDIBSection(NULL, &info, DIB_RGB_COLORS,
                                      reinterpret_cast<void **>(&deviceBits), NULL, 0);
    HDC device = CreateCompatibleDC(NULL);
    HGDIOBJ previous = SelectObject(device, bitmap);
    std::vector<uint32_t> image(w * h);
    for (int i = 0; i < w * h; ++i)
      image[i] = deviceBits[i] = static_cast<uint32_t>(i * 2654435761u) & 0xFFFFFF;
    gSettings.method = method;
    gSettings.lossy = method == 2;
    DeviceSurface d = {device};
    gEffectState.seed = 77;
    SmearStep(d, 0, 0, w, h, TickCount);
    ImageSurface s = {image.data(), w, h};
    gEffectState.seed = 77;
    SmearStep(s, 0, 0, w, h, TickCount);
    GdiFlush();
    int changed = 0, differ = 0;
    for (int i = 0; i < w * h; ++i) {
      changed += (deviceBits[i] != (static_cast<uint32_t>(i * 2654435761u) & 0xFFFFFF));
      differ += deviceBits[i] != image[i];
    }
    EXPECT_GT(changed, 100) << "method " << method;
    EXPECT_EQ(differ, 0) << "method " << method;
    SelectObject(device, previous);
    DeleteDC(device);
    DeleteObject(bitmap);
  }
}

}  // namespace
