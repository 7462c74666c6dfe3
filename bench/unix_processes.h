// The processes that work for a saver under Wine, seen from a Windows program through drive Z:
// (Wine's view of the root): the saver's own, the wineserver of this prefix and the X server
// of this display, with their processor time from /proc. Elsewhere none is found.
#pragma once

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace soak {

// The whole of a small file of /proc (whose size reads as 0), "" when it cannot be read.
inline std::string ReadProcFile(long pid, const char *name) {
  char path[64];
  std::snprintf(path, sizeof path, "Z:\\proc\\%ld\\%s", pid, name);
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return "";
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, NULL) && got > 0) text.append(buffer, got);
  CloseHandle(file);
  return text;
}

// utime + stime of a process in clock ticks, -1 when it cannot be read.
inline long long UnixProcessTicks(long pid) {
  if (pid <= 0) return -1;
  std::string stat = ReadProcFile(pid, "stat");
  // The name in parentheses may hold spaces; the fields after it are counted from 3 (state).
  size_t close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  const char *p = stat.c_str() + close + 1;
  long long utime = -1, stime = -1;
  for (int field = 3; field <= 15 && *p != '\0'; ++field) {
    while (*p == ' ') ++p;
    char *end;
    long long value = std::strtoll(p, &end, 10);
    if (field == 14) utime = value;
    if (field == 15) stime = value;
    while (*p != ' ' && *p != '\0') ++p;
  }
  return utime < 0 || stime < 0 ? -1 : utime + stime;
}

// Context switches so far of every thread of a process, voluntary and not; -1 when unread.
// Each is a wake of a thread, or a wait on the wineserver or the X server.
inline long long UnixContextSwitches(long pid) {
  char pattern[64];
  std::snprintf(pattern, sizeof pattern, "Z:\\proc\\%ld\\task\\*", pid);
  WIN32_FIND_DATAA task;
  HANDLE search = pid > 0 ? FindFirstFileA(pattern, &task) : INVALID_HANDLE_VALUE;
  if (search == INVALID_HANDLE_VALUE) return -1;
  long long switches = 0;
  do {
    std::string status =
        ReadProcFile(pid, ("task\\" + std::string(task.cFileName) + "\\status").c_str());
    for (const char *key : {"\nvoluntary_ctxt_switches:", "\nnonvoluntary_ctxt_switches:"}) {
      size_t at = status.find(key);
      if (at != std::string::npos) switches += std::atoll(status.c_str() + at + std::strlen(key));
    }
  } while (FindNextFileA(search, &task));
  FindClose(search);
  return switches;
}

// Clock ticks per second of /proc's times: the kernel's USER_HZ, 100 on every Linux this runs
// on.
const double kUnixTicksPerSecond = 100.0;

inline bool StartsWith(const std::string &text, const std::string &prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

// Calls visit(pid) for every process in /proc until it returns true; that pid, or 0.
template <class Visit>
long FindUnixProcess(Visit visit) {
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA("Z:\\proc\\*", &entry);
  if (search == INVALID_HANDLE_VALUE) return 0;
  long found = 0;
  do {
    char *end;
    long pid = std::strtol(entry.cFileName, &end, 10);
    if (pid > 0 && *end == '\0' && visit(pid)) found = pid;
  } while (found == 0 && FindNextFileA(search, &entry));
  FindClose(search);
  return found;
}

// The Linux process of a Windows program: Wine shows its command line, whose first word is
// the program's Windows path.
inline long UnixPidOfProgram(const std::string &windowsPath) {
  return FindUnixProcess([&](long pid) {
    std::string line = ReadProcFile(pid, "cmdline");
    return line.size() > windowsPath.size() &&
           CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, line.c_str(),
                          static_cast<int>(windowsPath.size()), windowsPath.c_str(),
                          static_cast<int>(windowsPath.size())) == CSTR_EQUAL &&
           (line[windowsPath.size()] == ' ' || line[windowsPath.size()] == '\0');
  });
}

// The wineserver of this program's prefix: it keeps the environment of the first Wine program
// of the session, WINEPREFIX included.
inline long UnixPidOfWineserver() {
  char prefix[MAX_PATH] = {};
  if (!GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix)) return 0;
  std::string wanted = std::string("WINEPREFIX=") + prefix;
  return FindUnixProcess([&](long pid) {
    if (!StartsWith(ReadProcFile(pid, "comm"), "wineserver")) return false;
    std::string environment = ReadProcFile(pid, "environ");
    for (size_t at = 0; at < environment.size(); at = environment.find('\0', at) + 1) {
      if (environment.compare(at, wanted.size() + 1, wanted.c_str(), wanted.size() + 1) == 0)
        return true;
      if (environment.find('\0', at) == std::string::npos) break;
    }
    return false;
  });
}

// The X server of this program's display: an X process with the display's number among its
// arguments.
inline long UnixPidOfXServer() {
  char display[64] = {};
  if (!GetEnvironmentVariableA("DISPLAY", display, sizeof display)) return 0;
  std::string number = display;
  number = number.substr(0, number.find('.'));
  if (number.empty() || number[0] != ':') return 0;
  return FindUnixProcess([&](long pid) {
    if (ReadProcFile(pid, "comm").compare(0, 1, "X") != 0) return false;
    std::string line = ReadProcFile(pid, "cmdline");
    for (size_t at = 0; at < line.size(); at = line.find('\0', at) + 1) {
      if (line.compare(at, number.size() + 1, number.c_str(), number.size() + 1) == 0) return true;
      if (line.find('\0', at) == std::string::npos) break;
    }
    return false;
  });
}

}  // namespace soak
