// A process's handles and GDI objects, counted from outside: by the system's own counters where
// it answers them, and under Wine (which answers neither) from the system's handle list and
// the process's GDI handle table.
#pragma once

#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <vector>

namespace soak {

// Handles: the system's own count where it gives one; Wine answers 0, so there the system's
// handle list is searched for the process's entries instead.
struct HandleEntry {
  USHORT processId;
  USHORT backTraceIndex;
  UCHAR objectType;
  UCHAR attributes;
  USHORT handle;
  PVOID object;
  ULONG access;
};
struct HandleList {
  ULONG count;
  HandleEntry entries[1];
};
const ULONG kSystemHandleInformation = 16;
const NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004);

inline long HandlesFromSystemList(DWORD processId) {
  static std::vector<unsigned char> buffer(1 << 20);
  for (;;) {
    ULONG needed = 0;
    NTSTATUS status =
        NtQuerySystemInformation(static_cast<SYSTEM_INFORMATION_CLASS>(kSystemHandleInformation),
                                 buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if (status == kInfoLengthMismatch) {
      buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 4096));
      continue;
    }
    if (status < 0) return -1;
    const HandleList *list = reinterpret_cast<const HandleList *>(buffer.data());
    long n = 0;
    for (ULONG i = 0; i < list->count; ++i)
      n += list->entries[i].processId == static_cast<USHORT>(processId);
    return n;
  }
}

inline const char *gHandleSource = "GetProcessHandleCount";

inline long CountHandles(HANDLE process) {
  DWORD n = 0;
  if (GetProcessHandleCount(process, &n) && n != 0) return static_cast<long>(n);
  gHandleSource = "the system handle list (GetProcessHandleCount answers 0 here)";
  return HandlesFromSystemList(GetProcessId(process));
}

// GDI objects: the system's count where it gives one. Wine's GetGuiResources answers 0 with
// an error; it keeps a GDI handle table per process, found through the process's PEB, and a
// slot of it is in use when its type is not 0.
struct GdiTableEntry {
  UINT64 object;
  ULONG owner;
  USHORT unique;
  UCHAR type;
  UCHAR flags;
  UINT64 userPointer;
};
static_assert(sizeof(GdiTableEntry) == 24, "Wine's GDI table entry is 24 bytes");
const size_t kGdiTableEntries = 0x10000;
const size_t kPebGdiTableOffset = 0xF8;  // GdiSharedHandleTable in the 64-bit PEB

inline long GdiFromHandleTable(HANDLE process) {
  PROCESS_BASIC_INFORMATION info;
  ULONG length = 0;
  if (NtQueryInformationProcess(process, ProcessBasicInformation, &info, sizeof info, &length) < 0)
    return -1;
  UINT64 table = 0;
  SIZE_T read = 0;
  const char *peb = reinterpret_cast<const char *>(info.PebBaseAddress);
  if (!ReadProcessMemory(process, peb + kPebGdiTableOffset, &table, sizeof table, &read) ||
      table == 0)
    return -1;
  static std::vector<GdiTableEntry> entries(kGdiTableEntries);
  if (!ReadProcessMemory(process, reinterpret_cast<const void *>(table), entries.data(),
                         entries.size() * sizeof(GdiTableEntry), &read) ||
      read != entries.size() * sizeof(GdiTableEntry))
    return -1;
  long n = 0;
  for (const GdiTableEntry &e : entries) n += e.type != 0;
  return n;
}

inline const char *gGdiSource = "GetGuiResources";

inline long CountGdiObjects(HANDLE process) {
  SetLastError(0);
  DWORD n = GetGuiResources(process, GR_GDIOBJECTS);
  if (n != 0 || GetLastError() == 0) return static_cast<long>(n);
  gGdiSource = "the process's GDI handle table (GetGuiResources is not answered here)";
  return GdiFromHandleTable(process);
}

}  // namespace soak
