// Mode dispatch: one command per process, its result the exit code.
#include "host.h"

#include "settings/settings.h"

// The window a decimal handle on the command line names, or none.
static HWND WindowNamedBy(const char *handleText) {
  HWND window = reinterpret_cast<HWND>(static_cast<uintptr_t>(ParseDecimalHandle(handleText)));
  return window != NULL && IsWindow(window) ? window : NULL;
}

int RunPreviewCommand(const char *handleText) {
  HWND parent = WindowNamedBy(handleText);
  return parent != NULL ? RunSaverWindow(parent) : -1;
}

void InvokePasswordChange(HWND owner) {
  typedef DWORD(WINAPI * PwdChangePasswordProc)(LPCSTR provider, HWND owner, DWORD, void *);
  HMODULE library = LoadLibraryA("MPR.DLL");
  if (library == NULL) return;
  PwdChangePasswordProc change = reinterpret_cast<PwdChangePasswordProc>(
      reinterpret_cast<void (*)()>(GetProcAddress(library, "PwdChangePasswordA")));
  if (change != NULL) change("SCRSAVE", owner, 0, NULL);
  FreeLibrary(library);
}

int ChangePasswordCommand(const char *handleText) {
  HWND owner = WindowNamedBy(handleText);
  if (owner == NULL) owner = GetForegroundWindow();
  InvokePasswordChange(owner);
  return 0;
}

#if defined(VANDREL_INJECT_FAULT)
// Test build only: the invalid command writes through a pointer that names no memory, so the
// failure guard has a real processor exception to handle.
static int FaultingCommand() {
  volatile uintptr_t nowhere = 16;
  *reinterpret_cast<volatile int *>(nowhere) = 1;
  return 7;  // only when execution resumes after the fault
}
#endif

static int RunDecodedCommand(const char *tail) {
  SaverCommand command = DecodeCommand(tail);
  switch (command.kind) {
    case SaverCommandKind::ConfigureNoOwner:
      return RunConfigDialog(NULL);
    case SaverCommandKind::ConfigureForeground:
      return RunConfigDialog(GetForegroundWindow());
    case SaverCommandKind::RunFullScreen:
      return RunSaverWindow(NULL);
    case SaverCommandKind::RunPreview:
      return RunPreviewCommand(command.handleText);
    case SaverCommandKind::ChangePassword:
      return ChangePasswordCommand(command.handleText);
    case SaverCommandKind::Invalid:
#if defined(VANDREL_INJECT_FAULT)
      return FaultingCommand();
#endif
      return -1;
  }
  return -1;
}

int RunSaverCommand(HINSTANCE instance, const char *tail) {
  gHostState.instance = instance;
  DetectPlatformFamily();
  return RunGuarded(RunDecodedCommand, tail);
}
