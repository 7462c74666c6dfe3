// The saver host: command line, modes, the saver window with its message loop, the close
// policy and the password verifier of the Windows 95 family, and the process exit.
#pragma once

#include <stdint.h>

#if defined(_WIN32)
#include <windows.h>
#endif

enum class SaverCommandKind {
  ConfigureNoOwner,     // no switch at all
  ConfigureForeground,  // c
  RunFullScreen,        // s
  RunPreview,           // p or l, with a window handle
  ChangePassword,       // a, with an optional window handle (Windows 95 family only)
  Invalid,
};

struct SaverCommand {
  SaverCommandKind kind;
  const char *handleText;  // what follows p, l or a and its spaces; "" for the other kinds
};

// Steps over one character of a multi-byte string; CharNextA on the platform.
typedef const char *(*CharAdvance)(const char *text);

// Where the command tail starts: after the program path (quoted or not) and the blanks
// that follow it.
const char *CommandTail(const char *commandLine, CharAdvance next);

SaverCommand DecodeCommand(const char *tail, bool onWin95);

// The window handle a decimal number names; 0 when the text does not start with a digit, and
// 0 when the number does not fit in 32 bits (it names no window rather than wrapping round
// to some other one).
uint32_t ParseDecimalHandle(const char *text);

// now - then in 32-bit unsigned arithmetic, right across the tick counter's wrap.
inline uint32_t ElapsedMs(uint32_t then, uint32_t now) {
  return now - then;
}

#if defined(_WIN32)

// Sent to the saver window to run the password verifier; non-zero when the saver may close.
const UINT MsgVerifyPassword = 0x8000;

const uint32_t kNeverVerified = 0xFFFFFFFFu;
const uint32_t kRefusalWindowMs = 200;

typedef BOOL(WINAPI *VerifyScreenSavePwdProc)(HWND saverWindow);
typedef HIMC(WINAPI *ImmAssociateContextProc)(HWND window, HIMC context);

struct SaverHostState {
  HINSTANCE instance;
  HWND mainWindow;
  int32_t isPreview;         // running as a preview child
  int32_t closing;           // a close request was granted by the password check
  int32_t checkingPassword;  // the verifier runs
  int32_t onWin95;           // Windows 95 family
  HMODULE verifierLibrary;   // PASSWORD.CPL
  HMODULE immModule;         // IMM32.DLL, only if already loaded
  VerifyScreenSavePwdProc verifyEntry;
  ImmAssociateContextProc immAssociateEntry;
  HIMC previousImeContext;
  uint32_t mouseThreshold;  // pointer travel (x plus y) that does not yet close the saver
  uint32_t lastVerifyTick;  // end of the last password check; kNeverVerified until one ends
  POINT lastCursorPos;      // where pointer travel is measured from
};

extern SaverHostState gHostState;

// Command line.
const char *CommandTail(const char *commandLine);
void DetectPlatformFamily();
SaverCommand DecodeCommand(const char *tail);

// Close policy and password verification.
LRESULT CALLBACK BaseSaverWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL VerifyBeforeClose(HWND hwnd);
void LoadPasswordVerifier();
void UnloadPasswordVerifier();
void SetSaverRunningFlag(BOOL on);

// Saver window and message loop.
int RunSaverWindow(HWND parent);
// The full-screen saver's rectangle in screen coordinates: every monitor's.
RECT FullScreenRect();
// The monitors' rectangles in screen coordinates; without the system's monitor list (Windows
// 95, NT 4.0) the primary screen alone.
const int kMaxMonitors = 16;
struct MonitorList {
  int count;
  RECT rects[kMaxMonitors];
};
void ListMonitors(MonitorList *list);
// The parts of area (screen coordinates) that lie on a monitor, in coordinates relative to
// area's top-left corner.
void ListMonitorParts(RECT area, MonitorList *parts);
LRESULT CALLBACK HostWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Mode dispatch and process exit.
// The exit code of a run whose mode failed with a structured exception that the system's
// unhandled-exception filter let the program handle.
const int kGuardedFailure = -1;
// Runs body(text) inside the failure guard (32-bit build; the 64-bit test build runs it bare).
int RunGuarded(int (*body)(const char *), const char *text);
extern "C" void SaverEntry();
int RunSaverCommand(HINSTANCE instance, const char *tail);
int RunPreviewCommand(const char *handleText);
int ChangePasswordCommand(const char *handleText);
void InvokePasswordChange(HWND owner);

#endif
