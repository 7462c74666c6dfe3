// Test double of the system's MPR.DLL: its password-change entry writes the arguments it was
// given to "mpr-calls.txt" beside the DLL, one call a line. Built without that entry, it is a
// module that lacks the function.
#include <windows.h>

#include <cstdio>
#include <cstring>

static HMODULE gSelf;

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, void *) {
  if (reason == DLL_PROCESS_ATTACH) gSelf = self;
  return TRUE;
}

#if !defined(MPR_WITHOUT_PASSWORD_CHANGE)
extern "C" __declspec(dllexport) DWORD WINAPI
    PwdChangePasswordA(LPCSTR provider, HWND owner, DWORD flags, void *reserved) {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(gSelf, path, MAX_PATH);
  while (length > 0 && path[length - 1] != '\\' && path[length - 1] != '/') --length;
  std::strcpy(path + length, "mpr-calls.txt");
  if (FILE *log = std::fopen(path, "a")) {
    std::fprintf(log, "%s %llu %lu %llu\n", provider ? provider : "(null)",
                 static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(owner)), flags,
                 static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(reserved)));
    std::fclose(log);
  }
  return 0;
}
#endif

// Something to export when the password change is left out.
extern "C" __declspec(dllexport) DWORD WINAPI
    WNetGetLastErrorA(DWORD *, LPSTR, DWORD, LPSTR, DWORD) {
  return 0;
}
