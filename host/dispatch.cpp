// Mode dispatch: one command per process, its result the exit code.
#include "host.h"

int RunSaverCommand(HINSTANCE instance, const char *tail) {
  gHostState.instance = instance;
  DetectPlatformFamily();
  SaverCommand command = DecodeCommand(tail);
  switch (command.kind) {
    default:
      // No mode runs yet: every command fails.
      return -1;
  }
}
