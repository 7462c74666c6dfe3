// Numbers kept in the process's environment: how the stand-in password verifier, loaded into a
// test's process, takes its script from the test and leaves its log for it.
#pragma once

#include <windows.h>

#include <cstdio>
#include <cstdlib>

// The number in environment variable `name`; 0 when it is not set.
inline int EnvNumber(const char *name) {
  char text[32] = {};
  if (!GetEnvironmentVariableA(name, text, sizeof text)) return 0;
  return std::atoi(text);
}

inline void SetEnvNumber(const char *name, int value) {
  char text[32];
  std::snprintf(text, sizeof text, "%d", value);
  SetEnvironmentVariableA(name, text);
}
