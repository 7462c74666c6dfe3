// The platform's side of the command line: the multi-byte character step and the family.
#include "host.h"

SaverHostState gHostState = {
    NULL, NULL, 0, 0, 0, 0, NULL, NULL, NULL, NULL, NULL, 4, kNeverVerified, {0, 0},
};

static const char *NextCharacter(const char *text) {
  return CharNextA(text);
}

const char *CommandTail(const char *commandLine) {
  return CommandTail(commandLine, NextCharacter);
}

void DetectPlatformFamily() {
  OSVERSIONINFOA version;
  ZeroMemory(&version, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;  // 148
  gHostState.onWin95 =
      GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS ? 1 : 0;
}

SaverCommand DecodeCommand(const char *tail) {
  return DecodeCommand(tail, gHostState.onWin95 != 0);
}
