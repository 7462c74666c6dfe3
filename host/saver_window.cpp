// The saver's one window and its message loop.
#include "../effect/effect.h"
#include "host.h"

static const char kSaverClassName[] = "WindowsScreenSaverClass";
static const char kSaverTitle[] = "Screen Saver";

static void DetachInputMethod(HWND hwnd) {
  // Only an input method the process already uses is touched; none is loaded for this.
  gHostState.immModule = GetModuleHandleA("IMM32.DLL");
  if (gHostState.immModule == NULL) return;
  gHostState.immAssociateEntry = reinterpret_cast<ImmAssociateContextProc>(
      reinterpret_cast<void *>(GetProcAddress(gHostState.immModule, "ImmAssociateContext")));
  if (gHostState.immAssociateEntry != NULL)
    gHostState.previousImeContext = gHostState.immAssociateEntry(hwnd, NULL);
}

static void RestoreInputMethod(HWND hwnd) {
  if (gHostState.immModule != NULL && gHostState.immAssociateEntry != NULL &&
      gHostState.previousImeContext != NULL)
    gHostState.immAssociateEntry(hwnd, gHostState.previousImeContext);
}

static LRESULT ForwardToParent(HWND hwnd, UINT msg, LPARAM lParam) {
  HWND parent = GetParent(hwnd);
  if (parent == NULL || !IsWindow(parent)) return 1;
  // A help request carries a pointer to its HELPINFO, which lives only while the request is
  // being handled and which the system will not queue: it is sent. A context-menu request
  // carries only the pointer's position and is posted.
  if (msg == WM_HELP)
    SendMessageA(parent, msg, reinterpret_cast<WPARAM>(parent), lParam);
  else
    PostMessageA(parent, msg, reinterpret_cast<WPARAM>(parent), lParam);
  return 1;
}

static bool IsRefusedCommand(WPARAM command) {
  return command == SC_NEXTWINDOW || command == SC_PREVWINDOW || command == SC_SCREENSAVE;
}

LRESULT CALLBACK HostWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_SETTEXT:
      return 0;
    case WM_CREATE:
      DetachInputMethod(hwnd);
      GetCursorPos(&gHostState.lastCursorPos);
      if (!gHostState.isPreview) SetCursor(NULL);
      break;
    case WM_DESTROY:
      RestoreInputMethod(hwnd);
      PostQuitMessage(0);
      break;
    case WM_PAINT:
      if (gHostState.closing) return DefWindowProcA(hwnd, msg, wParam, lParam);
      if (!gHostState.isPreview) SetCursor(NULL);
      break;
    case WM_HELP:
    case WM_CONTEXTMENU:
      if (gHostState.isPreview) return ForwardToParent(hwnd, msg, lParam);
      break;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
      if (gHostState.closing) return DefWindowProcA(hwnd, msg, wParam, lParam);
      break;
    case WM_SYSCOMMAND:
      if (!gHostState.isPreview && IsRefusedCommand(wParam)) return 0;
      break;
    case WM_TIMER:
      if (gHostState.closing) return 0;
      // Leave the rest of the time slice to other programs before each step.
      Sleep(0);
      break;
  }
  return EffectWindowProc(hwnd, msg, wParam, lParam);
}

int RunSaverWindow(HWND parent) {
  WNDCLASSA windowClass;
  ZeroMemory(&windowClass, sizeof windowClass);
  windowClass.style = CS_OWNDC | CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = HostWindowProc;
  windowClass.hInstance = gHostState.instance;
  windowClass.hIcon = LoadIconA(gHostState.instance, MAKEINTRESOURCEA(100));
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  windowClass.lpszClassName = kSaverClassName;

  DWORD exStyle, style;
  const char *title;
  RECT area = {0, 0, 0, 0};
  if (parent != NULL) {
    RECT client;
    GetClientRect(parent, &client);
    exStyle = 0;
    style = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN;
    title = "Preview";
    area.right = client.right;
    area.bottom = client.bottom;
    gHostState.isPreview = 1;
  } else {
    exStyle = WS_EX_TOPMOST;
    style = WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    title = kSaverTitle;
    // One window over every monitor: input anywhere reaches it, and no monitor's windows stay
    // usable behind a password-protected saver.
    area = FullScreenRect();
    HWND running = FindWindowA(kSaverClassName, kSaverTitle);
    if (running != NULL && IsWindow(running)) {
      SetForegroundWindow(running);
      return 0;
    }
    LoadPasswordVerifier();
  }

  // A class or window that cannot be made ends the run as a failure.
  int result = -1;
  if (RegisterClassA(&windowClass))
    gHostState.mainWindow = CreateWindowExA(
        exStyle, kSaverClassName, title, style, area.left, area.top, area.right - area.left,
        area.bottom - area.top, parent, NULL, gHostState.instance, NULL);
  if (gHostState.mainWindow != NULL) {
    if (!gHostState.isPreview) SetForegroundWindow(gHostState.mainWindow);
    MSG msg;
    msg.wParam = 0;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    result = static_cast<int>(msg.wParam);
  }
  UnloadPasswordVerifier();
  return result;
}
