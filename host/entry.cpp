// Where the process starts: no C runtime runs before this.
#include "host.h"

extern "C" void SaverEntry() {
  const char *tail = CommandTail(GetCommandLineA());
  ExitProcess(static_cast<UINT>(RunSaverCommand(GetModuleHandleA(NULL), tail)));
}
