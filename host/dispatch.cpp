// Mode dispatch: one command per process, its result the exit code.
#include "host.h"

int RunSaverCommand(HINSTANCE instance, const char *tail) {
  gHostState.instance = instance;
  DetectPlatformFamily();
  SaverCommand command = DecodeCommand(tail);
  switch (command.kind) {
    case SaverCommandKind::RunFullScreen:
      return RunSaverWindow(NULL);
    case SaverCommandKind::RunPreview:
      return RunPreviewCommand(command.handleText);
    default:
      // The other modes do not run yet: they fail.
      return -1;
  }
}

int RunPreviewCommand(const char *handleText) {
  uint32_t handle = ParseDecimalHandle(handleText);
  HWND parent = reinterpret_cast<HWND>(static_cast<uintptr_t>(handle));
  if (handle == 0 || !IsWindow(parent)) return -1;
  return RunSaverWindow(parent);
}
