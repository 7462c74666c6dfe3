// Vandrel.scr started as its own process with each switch, as the system starts it; the exit
// code and what the process shows or calls are checked from outside.
//
//   module_process_test MODULE64 MODULE32 FAULTING32 MPR_DOUBLE MPR_WITHOUT_CHANGE VERIFIER32
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "win_test_support.h"

namespace {

std::string gModule64, gModule32, gFaulting32, gMprDouble, gMprWithoutChange, gVerifier32;

const DWORD kFailed = static_cast<DWORD>(-1);
const DWORD kNoExit = 0xDEADBEEF;
const char kSettingsKey[] = "Software\\Quorvel\\Vandrel";

// A fresh folder of this test run under the temporary folder.
std::string Folder(const std::string &name) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  std::string folder =
      std::string(temp) + "vandrel-process-" + std::to_string(GetCurrentProcessId());
  CreateDirectoryA(folder.c_str(), NULL);
  folder += "\\" + name;
  CreateDirectoryA(folder.c_str(), NULL);
  return folder;
}

std::string CopyInto(const std::string &folder, const std::string &from, const std::string &as) {
  std::string to = folder + "\\" + as;
  EXPECT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE)) << from << " -> " << to;
  return to;
}

// Wine's per-program settings: the reported Windows version and, when mpr is given, how MPR.DLL
// is loaded ("native" takes the DLL beside the program, "" loads none). A null version removes
// them.
void SetAppDefaults(const std::string &exeName, const char *version, const char *mpr = nullptr) {
  std::string path = "Software\\Wine\\AppDefaults\\" + exeName;
  if (version == nullptr) {
    RegDeleteKeyA(HKEY_CURRENT_USER, (path + "\\DllOverrides").c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, path.c_str());
    return;
  }
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key,
                            NULL),
            ERROR_SUCCESS);
  RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE *>(version),
                 static_cast<DWORD>(strlen(version) + 1));
  RegCloseKey(key);
  if (mpr == nullptr) return;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (path + "\\DllOverrides").c_str(), 0, NULL, 0,
                            KEY_ALL_ACCESS, NULL, &key, NULL),
            ERROR_SUCCESS);
  RegSetValueExA(key, "mpr", 0, REG_SZ, reinterpret_cast<const BYTE *>(mpr),
                 static_cast<DWORD>(strlen(mpr) + 1));
  RegCloseKey(key);
}

struct Process {
  PROCESS_INFORMATION info = {};
  bool started = false;

  void Start(const std::string &module, const std::string &tail) {
    std::string line = "\"" + module + "\"" + (tail.empty() ? "" : " " + tail);
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back(0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    started = CreateProcessA(module.c_str(), buffer.data(), NULL, NULL, FALSE, 0, NULL, NULL,
                             &startup, &info);
    EXPECT_TRUE(started) << line << " error " << GetLastError();
  }
  // The exit code, or kNoExit after the time is up (and the process is ended).
  DWORD Wait(DWORD ms) {
    if (!started) return kNoExit;
    DWORD code = kNoExit;
    if (WaitForSingleObject(info.hProcess, ms) == WAIT_OBJECT_0)
      GetExitCodeProcess(info.hProcess, &code);
    else
      TerminateProcess(info.hProcess, 99);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    started = false;
    return code;
  }
  ~Process() {
    if (started) Wait(0);
  }
};

DWORD RunModule(const std::string &module, const std::string &tail, DWORD ms = 30000) {
  Process p;
  p.Start(module, tail);
  return p.Wait(ms);
}

struct Search {
  DWORD pid;
  HWND found;
};

BOOL CALLBACK FindSettingsDialog(HWND window, LPARAM parameter) {
  Search *search = reinterpret_cast<Search *>(parameter);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  char caption[64] = {};
  GetWindowTextA(window, caption, sizeof caption);
  if (pid == search->pid && std::string(caption) == "Vandrel Settings" && IsWindowVisible(window)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

HWND WaitForSettingsDialog(DWORD pid, DWORD ms) {
  for (DWORD waited = 0; waited < ms; waited += 50) {
    Search search = {pid, NULL};
    EnumWindows(FindSettingsDialog, reinterpret_cast<LPARAM>(&search));
    if (search.found) return search.found;
    Sleep(50);
  }
  return NULL;
}

// A number that names no window, checked here first (Wine takes the low 16 bits of a number
// for a window handle).
std::string NoWindowNumber() {
  for (unsigned n : {0xFFFEu, 0x7FFEu, 0xBEEEu, 0x1234u})
    if (!IsWindow(reinterpret_cast<HWND>(static_cast<uintptr_t>(n)))) return std::to_string(n);
  ADD_FAILURE() << "every candidate names a window";
  return "65534";
}

std::string ReadFile(const std::string &path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(Module64, ConfigurationSwitchesOpenTheDialogAndEndWithItsResult) {
  RegDeleteKeyA(HKEY_CURRENT_USER, kSettingsKey);
  struct Case {
    const char *tail;
    bool ok;
  };
  for (Case c : {Case{"", true}, Case{"/c", false}, Case{"/c:1234", false}, Case{"--//-", false},
                 Case{"C 99", true}}) {
    SCOPED_TRACE(c.tail);
    Process p;
    p.Start(gModule64, c.tail);
    HWND dialog = WaitForSettingsDialog(p.info.dwProcessId, 20000);
    ASSERT_NE(dialog, nullptr) << "no settings dialog";
    if (c.ok)
      PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    else
      PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(p.Wait(20000), c.ok ? 1u : 0u);
  }
  // OK stored the defaults the dialog opened with.
  HKEY key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD method = 0, size = sizeof method, type = 0;
  EXPECT_EQ(RegQueryValueExA(key, "Method", NULL, &type, reinterpret_cast<BYTE *>(&method), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(method, 2u);
  RegCloseKey(key);
  RegDeleteKeyA(HKEY_CURRENT_USER, kSettingsKey);
}

TEST(Module64, PreviewWithoutAWindowEndsWithMinusOne) {
  std::string module = gModule64;
  std::string bogus = NoWindowNumber();
  for (std::string tail :
       std::vector<std::string>{"/p", "/p 0", "/l", "/l 0", "/p " + bogus, "/l " + bogus, "/p:5"})
    EXPECT_EQ(RunModule(module, tail), kFailed) << tail;
}

TEST(Module64, UnknownSwitchesEndWithMinusOne) {
  std::string module = gModule64;
  for (const char *tail : {"/x", "q", "/q", "?", "-\ts", "0", "/:s"})
    EXPECT_EQ(RunModule(module, tail), kFailed) << tail;
}

TEST(Module64, PasswordChangeOnlyOnTheWindows95Family) {
  std::string module = gModule64;
  for (const char *tail : {"/a", "/a 0", "-A 1234"})
    EXPECT_EQ(RunModule(module, tail), kFailed) << "Windows NT family: " << tail;
}

class PasswordChange : public ::testing::Test {
 protected:
  void SetUp() override {
    SetAppDefaults("VandrelNine.scr", "win98", "native");
    SetAppDefaults("VandrelNineBare.scr", "win98", "native");
    SetAppDefaults("VandrelNineNoMpr.scr", "win98", "");
  }
  void TearDown() override {
    for (const char *name : {"VandrelNine.scr", "VandrelNineBare.scr", "VandrelNineNoMpr.scr"})
      SetAppDefaults(name, nullptr);
  }
};

TEST_F(PasswordChange, CallsTheSystemModuleWithTheProviderAndOwner) {
  std::string folder = Folder("mpr");
  std::string module = CopyInto(folder, gModule64, "VandrelNine.scr");
  CopyInto(folder, gMprDouble, "mpr.dll");
  std::string log = folder + "\\mpr-calls.txt";
  DeleteFileA(log.c_str());

  HWND owner = CreateWindowExA(0, "STATIC", "owner", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, NULL,
                               NULL, NULL, NULL);
  ASSERT_NE(owner, nullptr);
  std::string ownerText = std::to_string(reinterpret_cast<uintptr_t>(owner));
  EXPECT_EQ(RunModule(module, "/a " + ownerText), 0u);
  EXPECT_EQ(ReadFile(log), "SCRSAVE " + ownerText + " 0 0\n");

  // Without a window number, or with one that names no window (none ever, one that has gone,
  // one too big for a handle): the foreground window.
  DeleteFileA(log.c_str());
  HWND gone = CreateWindowExA(0, "STATIC", "gone", WS_POPUP, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
  std::string goneText = std::to_string(reinterpret_cast<uintptr_t>(gone));
  DestroyWindow(gone);
  std::vector<std::string> tails = {"/a",
                                    "-a 0",
                                    "/a " + NoWindowNumber(),
                                    "/a " + goneText,
                                    "/a 4294967297",
                                    "/a -5",
                                    "/a 99999999999999999999"};
  for (const std::string &tail : tails) EXPECT_EQ(RunModule(module, tail), 0u) << tail;
  std::string foreground = std::to_string(reinterpret_cast<uintptr_t>(GetForegroundWindow()));
  std::string expected;
  for (size_t i = 0; i < tails.size(); ++i) expected += "SCRSAVE " + foreground + " 0 0\n";
  EXPECT_EQ(ReadFile(log), expected);
  DestroyWindow(owner);
}

TEST_F(PasswordChange, MissingModuleOrFunctionIsASilentNoOp) {
  std::string folder = Folder("mpr-without-change");
  std::string bare = CopyInto(folder, gModule64, "VandrelNineBare.scr");
  std::string noMpr = CopyInto(folder, gModule64, "VandrelNineNoMpr.scr");
  CopyInto(folder, gMprWithoutChange, "mpr.dll");
  EXPECT_EQ(RunModule(bare, "/a"), 0u) << "no PwdChangePasswordA";
  EXPECT_EQ(RunModule(noMpr, "/a 0"), 0u) << "no MPR.DLL";
}

// The system's saver-running flag, which Wine keeps for the whole session. A process keeps the
// value it first read, so it is read by a new process each time: this program started with
// kReadFlagSwitch, whose exit code is the flag.
const UINT kGetScreenSaverRunning = 0x0072;  // SPI_GETSCREENSAVERRUNNING
const char kReadFlagSwitch[] = "--saver-running-flag";
std::string gSelf;

DWORD SaverRunningFlag() {
  return RunModule(gSelf, kReadFlagSwitch);
}

// The 32-bit module under emulation: each start takes about a minute, so the processes run side
// by side where they can. The faulting build writes through a bad pointer on its invalid
// command; ending with -1 shows the guard handled the fault (execution resuming would end it
// with 7, an unhandled fault with the exception's code).
// The system's filter answers "handle it" when no debugger can be started.
void NoDebuggerForFaults() {
  const char *aeDebug = "Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug";
  for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, aeDebug, 0, NULL, 0, KEY_ALL_ACCESS | view, NULL,
                              &key, NULL),
              ERROR_SUCCESS);
    const char debugger[] = "Z:\\nonexistent\\no-debugger.exe %ld %ld";
    RegSetValueExA(key, "Debugger", 0, REG_SZ, reinterpret_cast<const BYTE *>(debugger),
                   sizeof debugger);
    RegSetValueExA(key, "Auto", 0, REG_SZ, reinterpret_cast<const BYTE *>("1"), 2);
    RegCloseKey(key);
  }
}

TEST(Module32, InvalidSwitchesAndHandledFaultsEndWithMinusOne) {
  NoDebuggerForFaults();
  std::string folder = Folder("fault");
  std::string faultingNine = CopyInto(folder, gFaulting32, "VandrelFaultNine.scr");
  SetAppDefaults("VandrelFaultNine.scr", "win98");
  ASSERT_TRUE(SystemParametersInfoA(SPI_SCREENSAVERRUNNING, TRUE, NULL, 0));
  ASSERT_EQ(SaverRunningFlag(), 1u);

  // Windows NT family: the flag is not the saver's business and stays as it was.
  {
    Process invalid, preview, faultNt;
    invalid.Start(gModule32, "/x");
    preview.Start(gModule32, "/p 0");
    faultNt.Start(gFaulting32, "/x");
    EXPECT_EQ(invalid.Wait(400000), kFailed) << "/x";
    EXPECT_EQ(preview.Wait(400000), kFailed) << "/p 0";
    EXPECT_EQ(faultNt.Wait(400000), kFailed) << "fault, Windows NT family";
    EXPECT_EQ(SaverRunningFlag(), 1u);
  }
  // Windows 95 family: the guard clears the flag before the process ends.
  EXPECT_EQ(RunModule(faultingNine, "/x", 400000), kFailed) << "fault, Windows 95 family";
  EXPECT_EQ(SaverRunningFlag(), 0u);

  SystemParametersInfoA(SPI_SCREENSAVERRUNNING, FALSE, NULL, 0);
  SetAppDefaults("VandrelFaultNine.scr", nullptr);
}

// The real module on the Windows 95 family with a password verifier that faults inside its
// check: the guard ends the run with -1 and clears the flag the verifier's loading had set.
TEST(Module32Verifier, FaultInsideTheVerifierEndsWithTheFlagCleared) {
  NoDebuggerForFaults();
  std::string folder = Folder("verifier-fault");
  std::string saverNine = CopyInto(folder, gModule32, "VandrelVerifierNine.scr");
  CopyInto(folder, gVerifier32, "PASSWORD.CPL");
  SetAppDefaults("VandrelVerifierNine.scr", "win98");
  HKEY desktop;
  ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "Control Panel\\Desktop", &desktop), ERROR_SUCCESS);
  const DWORD on = 1;
  RegSetValueExA(desktop, "ScreenSaveUsePassword", 0, REG_DWORD,
                 reinterpret_cast<const BYTE *>(&on), sizeof on);
  std::string log = folder + "\\verify.txt";
  DeleteFileA(log.c_str());
  SetEnvironmentVariableA("VANDREL_VERIFY_LOG", log.c_str());
  SetEnvironmentVariableA("VANDREL_VERIFY_FAULT", "1");
  SystemParametersInfoA(SPI_SCREENSAVERRUNNING, FALSE, NULL, 0);

  Process saver;
  saver.Start(saverNine, "/s");
  HWND window = NULL;
  for (int waited = 0; waited < 400000 && window == NULL; waited += 250) {
    Sleep(250);
    HWND candidate = FindWindowA("WindowsScreenSaverClass", "Screen Saver");
    DWORD pid = 0;
    GetWindowThreadProcessId(candidate, &pid);
    if (candidate != NULL && pid == saver.info.dwProcessId) window = candidate;
  }
  ASSERT_NE(window, nullptr) << "the saver showed no window";
  Sleep(500);
  PostMessageA(window, WM_KEYDOWN, 0x41, 0);
  EXPECT_EQ(saver.Wait(120000), kFailed);
  EXPECT_EQ(ReadFile(log), "verify running=1\n") << "the verifier ran once, with the flag set";
  EXPECT_EQ(SaverRunningFlag(), 0u);

  SetEnvironmentVariableA("VANDREL_VERIFY_LOG", NULL);
  SetEnvironmentVariableA("VANDREL_VERIFY_FAULT", NULL);
  RegDeleteValueA(desktop, "ScreenSaveUsePassword");
  RegCloseKey(desktop);
  SetAppDefaults("VandrelVerifierNine.scr", nullptr);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 2 && std::string(argv[1]) == kReadFlagSwitch) {
    BOOL running = 2;
    SystemParametersInfoA(kGetScreenSaverRunning, 0, &running, 0);
    return running;
  }
  char self[MAX_PATH];
  GetModuleFileNameA(NULL, self, MAX_PATH);
  gSelf = self;
  ::testing::InitGoogleTest(&argc, argv);
  if (argc != 7) {
    std::fprintf(stderr,
                 "usage: module_process_test MODULE64 MODULE32 FAULTING32 MPR MPR_BARE "
                 "VERIFIER32\n");
    return 2;
  }
  gModule64 = wintest::WindowsPath(argv[1]);
  gModule32 = wintest::WindowsPath(argv[2]);
  gFaulting32 = wintest::WindowsPath(argv[3]);
  gMprDouble = wintest::WindowsPath(argv[4]);
  gMprWithoutChange = wintest::WindowsPath(argv[5]);
  gVerifier32 = wintest::WindowsPath(argv[6]);
  return RUN_ALL_TESTS();
}
