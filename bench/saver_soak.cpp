// The saver's long run, watched from outside:
//   saver_soak MODULE [SECONDS [INTERVAL]]      (defaults: 600 s, samples every 10 s)
// starts MODULE /s (a 64-bit build of Vandrel.scr), samples its memory, handles, GDI objects,
// processor time and tick rate every INTERVAL seconds for SECONDS seconds, then moves the
// pointer and times how long the saver takes to go. Under Wine the processor share is also
// given for the saver with the wineserver and the X server, which do a third of its work or
// more, from their times in /proc. Exit code 0 when everything held, 1 when
// a check failed, 2 when the run could not be made or measured.
#include <windows.h>
#include <psapi.h>
#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/win_test_support.h"
#include "process_counts.h"
#include "tick_counter.h"
#include "unix_processes.h"

namespace {

using soak::CountGdiObjects;
using soak::CountHandles;
using soak::gGdiSource;
using soak::gHandleSource;

// What the counts may grow by between the baseline and the end before the run fails. The
// slack is there for what Wine opens and closes on the saver's behalf at moments a sample may
// catch, and for the heap growing by a block at a time; it is small enough that one handle or
// GDI object lost a second overshoots it within 5 s, and 1 KB lost a tick (100 KB a second)
// overshoots the private bytes' within 20 s. The working set also moves with what the host
// pages in and out, so it gets about one screen image (1920x1080x4 bytes, 7.9 MB).
const long kHandleSlack = 4;
const long kGdiSlack = 4;
const double kPrivateSlackMb = 2.0;
const double kWorkingSetSlackMb = 8.0;
// The first sample at least this far in is the baseline: start-up allocations are done then.
const double kWarmUpSeconds = 5.0;
// A pointer move must end the saver within this long.
const DWORD kCloseLimitMs = 5000;

double Now() {
  static LARGE_INTEGER frequency;
  if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double QpcSeconds(LONG64 ticks) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart);
}

double Mb(SIZE_T bytes) {
  return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

const char *gPrivateSource = "PrivateUsage";

// Counting on this process first: a counter that misses objects made on purpose would make
// every figure after it worthless.
bool CountersSeeWhatThisProcessMakes() {
  HANDLE self = GetCurrentProcess();
  const int kMade = 10;
  long handlesBefore = CountHandles(self);
  HANDLE events[kMade];
  for (HANDLE &e : events) e = CreateEventA(NULL, TRUE, FALSE, NULL);
  long handlesDuring = CountHandles(self);
  for (HANDLE e : events) CloseHandle(e);
  long gdiBefore = CountGdiObjects(self);
  HBRUSH brushes[kMade];
  for (int i = 0; i < kMade; ++i) brushes[i] = CreateSolidBrush(RGB(i, 2 * i, 3 * i));
  long gdiDuring = CountGdiObjects(self);
  for (HBRUSH b : brushes) DeleteObject(b);
  std::printf(
      "counter check on this program: %d events %ld -> %ld handles, %d brushes %ld -> %ld "
      "GDI objects\n",
      kMade, handlesBefore, handlesDuring, kMade, gdiBefore, gdiDuring);
  return handlesBefore >= 0 && gdiBefore >= 0 && handlesDuring - handlesBefore == kMade &&
         gdiDuring - gdiBefore == kMade;
}

// Processor time as the saver reads its own, which the tick hook leaves in the shared block:
// Wine's answer for another process stops growing a moment after that process starts. Before
// the hook's first reading, the system's answer from outside.
double CpuSeconds(HANDLE process, const soak::TickCounter &counter, const char **source) {
  if (counter.cpu100ns != 0) {
    *source = "the saver's own GetProcessTimes, read by the tick hook";
    return static_cast<double>(counter.cpu100ns) / 1e7;
  }
  *source = "GetProcessTimes from outside";
  LONG64 cpu = 0;
  soak::ProcessCpu100ns(process, &cpu);
  return static_cast<double>(cpu) / 1e7;
}

struct Sample {
  double t;      // seconds since the hook was set
  LONG64 ticks;  // in the interval that ends here
  double rate;   // ticks per second over that interval
  double gapMs;  // longest time between two ticks in it
  double workingMb, privateMb;
  long handles, gdi;
  double cpu;  // seconds of processor time so far
  // Seconds so far of the saver, the wineserver and the X server together, from /proc; -1
  // where they cannot all be read.
  double allCpu;
};

// The processes that work for the saver, as /proc counts their time.
struct SaverWorkers {
  long saver, wineserver, xServer;
  double Seconds() const {
    long long a = soak::UnixProcessTicks(saver), b = soak::UnixProcessTicks(wineserver),
              c = soak::UnixProcessTicks(xServer);
    if (a < 0 || b < 0 || c < 0) return -1;
    return static_cast<double>(a + b + c) / soak::kUnixTicksPerSecond;
  }
};

HWND WaitForSaverWindow(HANDLE process, DWORD ms) {
  DWORD start = GetTickCount();
  do {
    HWND w = FindWindowA("WindowsScreenSaverClass", "Screen Saver");
    if (w != NULL && IsWindowVisible(w)) return w;
    if (WaitForSingleObject(process, 20) == WAIT_OBJECT_0) return NULL;
  } while (GetTickCount() - start < ms);
  return NULL;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Run {
  PROCESS_INFORMATION process = {};
  HANDLE mapping = NULL;
  soak::TickCounter *counter = NULL;
  HHOOK hook = NULL;
  ~Run() {
    if (hook != NULL) UnhookWindowsHookEx(hook);
    if (counter != NULL) UnmapViewOfFile(counter);
    if (mapping != NULL) CloseHandle(mapping);
    if (process.hProcess == NULL) return;
    if (WaitForSingleObject(process.hProcess, 0) != WAIT_OBJECT_0)
      TerminateProcess(process.hProcess, 99);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
};

int Soak(const std::string &module, double seconds, double interval) {
  int screenW = GetSystemMetrics(SM_CXSCREEN), screenH = GetSystemMetrics(SM_CYSCREEN);
  std::printf("saver_soak: %s /s at %dx%d for %.0f s, a sample every %.0f s\n", module.c_str(),
              screenW, screenH, seconds, interval);
  if (!CountersSeeWhatThisProcessMakes()) {
    std::printf("FAIL: the handle or GDI counter does not see objects made on purpose\n");
    return 2;
  }
  if (FindWindowA("WindowsScreenSaverClass", NULL) != NULL) {
    std::printf("FAIL: a saver already runs\n");
    return 2;
  }
  char self[MAX_PATH];
  GetModuleFileNameA(NULL, self, sizeof self);
  std::string hookPath = self;
  hookPath = hookPath.substr(0, hookPath.find_last_of("\\/") + 1) + "saver_tick_hook.dll";
  HMODULE hookLibrary = LoadLibraryA(hookPath.c_str());
  HOOKPROC hookProc = hookLibrary == NULL ? NULL
                                          : reinterpret_cast<HOOKPROC>(reinterpret_cast<void *>(
                                                GetProcAddress(hookLibrary, soak::kHookProcName)));
  if (hookProc == NULL) {
    std::printf("FAIL: no hook procedure in %s\n", hookPath.c_str());
    return 2;
  }

  // Something to melt: a new display's plain black is the end of every melt, where the saver
  // stops its timer. A window of this program shows a hatched picture under the saver.
  WNDCLASSA pictureClass = {};
  pictureClass.lpfnWndProc = DefWindowProcA;
  pictureClass.hInstance = GetModuleHandleA(NULL);
  pictureClass.hbrBackground = CreateHatchBrush(HS_DIAGCROSS, RGB(230, 180, 40));
  pictureClass.lpszClassName = "VandrelSoakPicture";
  RegisterClassA(&pictureClass);
  CreateWindowExA(0, pictureClass.lpszClassName, "picture", WS_POPUP | WS_VISIBLE, 0, 0, screenW,
                  screenH, NULL, NULL, pictureClass.hInstance, NULL);
  // The pointer must be at rest before the saver starts, or the saver sees it arrive.
  SetCursorPos(screenW / 2, screenH / 2);
  for (DWORD start = GetTickCount(); GetTickCount() - start < 300; Sleep(10)) {
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }

  Run run;
  std::string line = "\"" + module + "\" /s";
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  if (!CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &run.process)) {
    std::printf("FAIL: cannot start %s (error %lu)\n", module.c_str(), GetLastError());
    return 2;
  }
  BOOL wow64 = FALSE;
  IsWow64Process(run.process.hProcess, &wow64);
  if (wow64) {
    std::printf("FAIL: a 32-bit module; the tick hook is 64-bit, so run a 64-bit build\n");
    return 2;
  }
  double launched = Now();
  HWND window = WaitForSaverWindow(run.process.hProcess, 60000);
  if (window == NULL) {
    std::printf("FAIL: no saver window within 60 s\n");
    return 2;
  }
  std::printf("saver window after %.2f s\n", Now() - launched);

  char name[64];
  soak::TickCounterName(run.process.dwProcessId, name);
  run.mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0,
                                   sizeof(soak::TickCounter), name);
  run.counter = run.mapping == NULL ? NULL
                                    : static_cast<soak::TickCounter *>(
                                          MapViewOfFile(run.mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  if (run.counter == NULL) {
    std::printf("FAIL: no shared tick counter (error %lu)\n", GetLastError());
    return 2;
  }
  soak::TickCounter &counter = *run.counter;
  counter.window = reinterpret_cast<LONG64>(window);
  DWORD saverThread = GetWindowThreadProcessId(window, NULL);
  run.hook = SetWindowsHookExA(WH_GETMESSAGE, hookProc, hookLibrary, saverThread);
  if (run.hook == NULL) {
    std::printf("FAIL: cannot hook the saver's thread (error %lu)\n", GetLastError());
    return 2;
  }

  SaverWorkers workers = {soak::UnixPidOfProgram(module), soak::UnixPidOfWineserver(),
                          soak::UnixPidOfXServer()};
  std::printf(
      "processor time from /proc of the saver (pid %ld), the wineserver (%ld) and the X "
      "server (%ld)%s\n",
      workers.saver, workers.wineserver, workers.xServer,
      workers.Seconds() < 0 ? ": not all found, so no combined share" : "");

  // Under Wine, reading the saver's GDI table from here brings in the pages of it that the
  // saver never touched, which then count in its memory: 1.5 MB, once. Done before the first
  // sample, that step is not taken for growth.
  CountGdiObjects(run.process.hProcess);

  double t0 = Now();
  std::printf("%8s %7s %8s %7s %9s %9s %8s %5s %8s %6s %6s\n", "t (s)", "ticks", "ticks/s",
              "gap ms", "WS (MB)", "priv (MB)", "handles", "GDI", "CPU (s)", "CPU %", "all %");
  std::vector<Sample> samples;
  LONG64 ticksBefore = counter.ticks;
  double tBefore = 0, cpuBefore = 0, allBefore = workers.Seconds();
  const char *cpuSource = "";
  bool endedEarly = false;
  for (int k = 1; k * interval <= seconds + 1e-9; ++k) {
    double due = t0 + k * interval;
    for (double now = Now(); now < due; now = Now()) {
      DWORD wait = static_cast<DWORD>((due - now) * 1000) + 1;
      if (WaitForSingleObject(run.process.hProcess, wait) == WAIT_OBJECT_0) break;
    }
    if (WaitForSingleObject(run.process.hProcess, 0) == WAIT_OBJECT_0) {
      endedEarly = true;
      break;
    }
    Sample s;
    s.t = Now() - t0;
    LONG64 ticks = counter.ticks;
    s.ticks = ticks - ticksBefore;
    s.rate = static_cast<double>(s.ticks) / (s.t - tBefore);
    s.gapMs = QpcSeconds(InterlockedExchange64(&counter.longestGapQpc, 0)) * 1000;
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(run.process.hProcess, reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&memory),
                         sizeof memory);
    s.workingMb = Mb(memory.WorkingSetSize);
    // Wine leaves PrivateUsage at 0; PagefileUsage is the same commit charge by definition.
    if (memory.PrivateUsage == 0) gPrivateSource = "PagefileUsage (PrivateUsage is 0 here)";
    s.privateMb = Mb(memory.PrivateUsage != 0 ? memory.PrivateUsage : memory.PagefileUsage);
    s.handles = CountHandles(run.process.hProcess);
    s.gdi = CountGdiObjects(run.process.hProcess);
    s.cpu = CpuSeconds(run.process.hProcess, counter, &cpuSource);
    s.allCpu = workers.Seconds();
    char all[16] = "-";
    if (s.allCpu >= 0 && allBefore >= 0)
      std::snprintf(all, sizeof all, "%.1f", 100 * (s.allCpu - allBefore) / (s.t - tBefore));
    std::printf("%8.1f %7lld %8.1f %7.1f %9.2f %9.2f %8ld %5ld %8.2f %6.1f %6s\n", s.t,
                static_cast<long long>(s.ticks), s.rate, s.gapMs, s.workingMb, s.privateMb,
                s.handles, s.gdi, s.cpu, 100 * (s.cpu - cpuBefore) / (s.t - tBefore), all);
    std::fflush(stdout);
    samples.push_back(s);
    ticksBefore = ticks;
    tBefore = s.t;
    cpuBefore = s.cpu;
    allBefore = s.allCpu;
  }

  std::vector<std::string> failures;
  if (endedEarly) {
    DWORD code = 0;
    GetExitCodeProcess(run.process.hProcess, &code);
    std::printf("FAIL: the saver ended by itself after %.1f s with exit code %ld\n", Now() - t0,
                static_cast<long>(code));
    return 1;
  }

  // Ended the way a user ends it: one move of the pointer, well past the saver's 4 pixels.
  INPUT move = {};
  move.type = INPUT_MOUSE;
  move.mi.dx = 30;
  move.mi.dy = 20;
  move.mi.dwFlags = MOUSEEVENTF_MOVE;
  counter.watchClose = 1;
  LARGE_INTEGER movedQpc;
  QueryPerformanceCounter(&movedQpc);
  double moved = Now();
  SendInput(1, &move, sizeof move);
  WaitForSingleObject(run.process.hProcess, kCloseLimitMs);
  double closeMs = (Now() - moved) * 1000;
  DWORD exitCode = STILL_ACTIVE;
  GetExitCodeProcess(run.process.hProcess, &exitCode);

  std::printf("\nsummary: %s, %dx%d, %.0f s\n", module.c_str(), screenW, screenH, seconds);
  std::printf(
      "hook: %ld messages seen, %lld ticks of the saver window, %lld other timer "
      "messages\n",
      static_cast<long>(counter.hookCalls), static_cast<long long>(counter.ticks),
      static_cast<long long>(counter.otherTimers));
  size_t base = 0;
  while (base < samples.size() && samples[base].t < kWarmUpSeconds) ++base;
  if (base + 1 >= samples.size()) {
    std::printf("FAIL: too short a run for a baseline at %.0f s and a later sample\n",
                kWarmUpSeconds);
    return 2;
  }
  const Sample &b = samples[base], &e = samples.back();
  std::printf("counts, baseline at %.1f s -> end at %.1f s:\n", b.t, e.t);
  std::printf("  %-16s %10s %10s %10s %10s\n", "", "baseline", "end", "change", "allowed");
  auto row = [&](const char *what, double from, double to, double slack, const char *format) {
    char line[160];
    std::snprintf(line, sizeof line, format, what, from, to, to - from, slack);
    std::printf("%s\n", line);
    if (to - from > slack) failures.push_back(std::string(what) + " grew beyond its slack");
  };
  row("handles", b.handles, e.handles, kHandleSlack, "  %-16s %10.0f %10.0f %+10.0f %+10.0f");
  row("GDI objects", b.gdi, e.gdi, kGdiSlack, "  %-16s %10.0f %10.0f %+10.0f %+10.0f");
  row("private MB", b.privateMb, e.privateMb, kPrivateSlackMb,
      "  %-16s %10.2f %10.2f %+10.2f %+10.2f");
  row("working set MB", b.workingMb, e.workingMb, kWorkingSetSlackMb,
      "  %-16s %10.2f %10.2f %+10.2f %+10.2f");
  for (const Sample &s : samples)
    if (s.handles < 0 || s.gdi < 0) {
      failures.push_back("a handle or GDI count could not be read");
      break;
    }
  long maxHandles = 0, maxGdi = 0;
  double maxPrivate = 0;
  for (size_t i = base; i < samples.size(); ++i) {
    maxHandles = std::max(maxHandles, samples[i].handles);
    maxGdi = std::max(maxGdi, samples[i].gdi);
    maxPrivate = std::max(maxPrivate, samples[i].privateMb);
  }
  std::printf("  highest after the baseline: %ld handles, %ld GDI objects, %.2f MB private\n",
              maxHandles, maxGdi, maxPrivate);
  std::printf("  handles counted by %s; GDI objects by %s; private bytes: %s\n", gHandleSource,
              gGdiSource, gPrivateSource);

  std::vector<double> rates;
  double longestGap = 0;
  for (size_t i = base + 1; i < samples.size(); ++i) {
    rates.push_back(samples[i].rate);
    longestGap = std::max(longestGap, samples[i].gapMs);
  }
  double lowest = *std::min_element(rates.begin(), rates.end());
  double highest = *std::max_element(rates.begin(), rates.end());
  double median = Median(rates);
  std::printf(
      "tick rate over the %zu intervals after the baseline: min %.1f, median %.1f, max "
      "%.1f ticks/s; longest gap between ticks %.1f ms\n",
      rates.size(), lowest, median, highest, longestGap);
  if (median <= 0) failures.push_back("no ticks were counted");
  if (lowest < median / 2) failures.push_back("an interval ticked at less than half the median");
  std::printf("processor: %.2f s over %.1f s after the baseline (%.1f%% of one processor; %s)\n",
              e.cpu - b.cpu, e.t - b.t, 100 * (e.cpu - b.cpu) / (e.t - b.t), cpuSource);
  if (b.allCpu >= 0 && e.allCpu >= 0)
    std::printf(
        "processor with the wineserver and the X server: %.2f s over %.1f s (%.1f%% of one "
        "processor; /proc)\n",
        e.allCpu - b.allCpu, e.t - b.t, 100 * (e.allCpu - b.allCpu) / (e.t - b.t));

  std::printf("close: ");
  if (exitCode == STILL_ACTIVE) {
    std::printf("still running %.0f ms after the pointer move\n", closeMs);
    failures.push_back("the saver did not close on the pointer move");
  } else {
    std::printf("exited %.0f ms after the pointer move, exit code %ld\n", closeMs,
                static_cast<long>(exitCode));
    if (exitCode != 0) failures.push_back("the exit code is not 0");
  }
  // Where the time to close goes, as the saver's queue saw it.
  auto since = [&](LONG64 qpc) {
    return qpc == 0 ? -1.0 : QpcSeconds(qpc - movedQpc.QuadPart) * 1000;
  };
  std::printf(
      "  after the move (ms; -1: not seen): the saver took its pointer-move message at "
      "%.0f, its close request at %.0f, its quit message at %.0f\n",
      since(counter.mouseMoveQpc), since(counter.closeQpc), since(counter.quitQpc));

  if (failures.empty()) {
    std::printf("PASS\n");
    return 0;
  }
  for (const std::string &f : failures) std::printf("FAIL: %s\n", f.c_str());
  return 1;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2 || argc > 4) {
    std::fprintf(stderr, "usage: saver_soak MODULE [SECONDS [INTERVAL]]\n");
    return 2;
  }
  double seconds = argc > 2 ? std::atof(argv[2]) : 600;
  double interval = argc > 3 ? std::atof(argv[3]) : 10;
  if (seconds <= 0 || interval <= 0 || interval > seconds) {
    std::fprintf(stderr,
                 "saver_soak: SECONDS and INTERVAL must be positive, INTERVAL <= SECONDS\n");
    return 2;
  }
  // Each line reaches a log as it is printed, not when a buffer fills.
  setvbuf(stdout, NULL, _IONBF, 0);
  return Soak(wintest::WindowsPath(argv[1]), seconds, interval);
}
