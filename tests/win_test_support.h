// Helpers for the Windows test programs: a message pump with a deadline, and a way to put a
// stand-in in front of one function this program imports, so a test can watch what reaches
// the platform.
#pragma once

#include <windows.h>

#include <cstring>
#include <string>

namespace wintest {

// A path of the Linux side as Windows programs under Wine see it: through drive Z:.
inline std::string WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') {
    path = "Z:" + path;
    for (char &c : path)
      if (c == '/') c = '\\';
  }
  return path;
}

// Dispatches messages for `ms` milliseconds; returns true if a quit message came. With
// `ticks`, counts there the timer messages of `ticksOf` (NULL: the thread's own timers).
inline bool Pump(DWORD ms, int *ticks = nullptr, HWND ticksOf = NULL) {
  DWORD start = GetTickCount();
  bool quit = false;
  do {
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        quit = true;
        continue;
      }
      if (ticks != nullptr && msg.message == WM_TIMER && msg.hwnd == ticksOf) ++*ticks;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    Sleep(1);
  } while (GetTickCount() - start < ms);
  return quit;
}

// Pumps until `done()` holds or `ms` pass; returns done().
template <class Condition>
bool PumpUntil(Condition done, DWORD ms) {
  DWORD start = GetTickCount();
  while (!done() && GetTickCount() - start < ms) Pump(5);
  return done();
}

// Replaces this program's import of `function` from `dll` by `replacement`; returns the
// original address, or NULL when the program does not import it.
inline void *PatchImport(const char *dll, const char *function, void *replacement) {
  BYTE *base = reinterpret_cast<BYTE *>(GetModuleHandleA(NULL));
  IMAGE_NT_HEADERS *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(
      base + reinterpret_cast<IMAGE_DOS_HEADER *>(base)->e_lfanew);
  IMAGE_DATA_DIRECTORY dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (IMAGE_IMPORT_DESCRIPTOR *d =
           reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + dir.VirtualAddress);
       d->Name != 0; ++d) {
    if (lstrcmpiA(reinterpret_cast<char *>(base + d->Name), dll) != 0) continue;
    IMAGE_THUNK_DATA *names = reinterpret_cast<IMAGE_THUNK_DATA *>(base + d->OriginalFirstThunk);
    IMAGE_THUNK_DATA *slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + d->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      IMAGE_IMPORT_BY_NAME *byName =
          reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<char *>(byName->Name), function) != 0) continue;
      DWORD old;
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old);
      void *original = reinterpret_cast<void *>(slots->u1.Function);
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
      return original;
    }
  }
  return NULL;
}

}  // namespace wintest
