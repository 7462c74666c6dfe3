// Where the process starts: no C runtime runs before this.
#include "../effect/effect.h"
#include "host.h"

extern "C" void SaverEntry() {
  const char *tail = CommandTail(GetCommandLineA());
  UINT code = static_cast<UINT>(RunSaverCommand(GetModuleHandleA(NULL), tail));
  // A thread still decoding the wallpaper may hold a lock that an orderly end waits for (the
  // loader's, the heap's), or wait on a disk: the process then ends without it.
  if (gEffectState.decoderRunning) TerminateProcess(GetCurrentProcess(), code);
  ExitProcess(code);
}
