// Paints a made-up desktop over every monitor: wallpaper, icons, two windows with title bars
// and text, a taskbar on the primary monitor. The demo melts this picture; it is drawn the
// same way every time, so runs can be compared.
#include <windows.h>

#include <cstdint>
#include <cstdio>

namespace {

const char kTitle[] = "Vandrel demo desktop";

void Fill(HDC dc, int left, int top, int right, int bottom, COLORREF colour) {
  RECT r = {left, top, right, bottom};
  HBRUSH brush = CreateSolidBrush(colour);
  FillRect(dc, &r, brush);
  DeleteObject(brush);
}

void Text(HDC dc, int x, int y, const char *text, COLORREF colour, int height, bool bold) {
  HFONT font = CreateFontA(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0,
                           NONANTIALIASED_QUALITY, 0, "Arial");
  HGDIOBJ old = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, colour);
  TextOutA(dc, x, y, text, lstrlenA(text));
  SelectObject(dc, old);
  DeleteObject(font);
}

void Wallpaper(HDC dc, int width, int height) {
  // Bands of a teal-to-navy gradient, with a few soft rings.
  for (int y = 0; y < height; y += 4) {
    int t = y * 255 / height;
    Fill(dc, 0, y, width, y + 4, RGB(20, 120 - t / 3, 140 - t / 4));
  }
  HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
  for (int i = 0; i < 6; ++i) {
    HPEN pen = CreatePen(PS_SOLID, 6, RGB(60 + 25 * i, 170 - 10 * i, 190));
    HGDIOBJ oldPen = SelectObject(dc, pen);
    int r = 120 + 70 * i;
    Ellipse(dc, width * 3 / 4 - r, height / 3 - r, width * 3 / 4 + r, height / 3 + r);
    SelectObject(dc, oldPen);
    DeleteObject(pen);
  }
  SelectObject(dc, oldBrush);
}

void Icon(HDC dc, int x, int y, int kind, const char *label) {
  switch (kind) {
    case 0:  // computer
      Fill(dc, x + 8, y, x + 56, y + 36, RGB(200, 200, 200));
      Fill(dc, x + 12, y + 4, x + 52, y + 32, RGB(0, 90, 180));
      Fill(dc, x + 20, y + 40, x + 44, y + 46, RGB(160, 160, 160));
      break;
    case 1:  // folder
      Fill(dc, x + 6, y + 6, x + 28, y + 14, RGB(230, 190, 60));
      Fill(dc, x + 6, y + 12, x + 58, y + 46, RGB(250, 210, 80));
      break;
    case 2:  // document
      Fill(dc, x + 14, y, x + 50, y + 46, RGB(255, 255, 255));
      for (int line = 0; line < 5; ++line)
        Fill(dc, x + 18, y + 8 + 7 * line, x + 46, y + 10 + 7 * line, RGB(90, 90, 90));
      break;
    default:  // recycle bin
      Fill(dc, x + 14, y + 4, x + 50, y + 10, RGB(180, 180, 180));
      Fill(dc, x + 18, y + 10, x + 46, y + 46, RGB(140, 160, 150));
      break;
  }
  Text(dc, x - 4, y + 52, label, RGB(255, 255, 255), 16, false);
}

void Window(HDC dc, int left, int top, int width, int height, const char *title, bool active) {
  Fill(dc, left + 6, top + 6, left + width + 6, top + height + 6, RGB(10, 30, 40));  // shadow
  Fill(dc, left, top, left + width, top + height, RGB(192, 192, 192));
  for (int x = 0; x < width - 8; x += 4) {
    int t = x * 255 / width;
    COLORREF c = active ? RGB(0 + t / 4, 0 + t / 3, 128 + t / 2) : RGB(128, 128, 128 + t / 8);
    Fill(dc, left + 4 + x, top + 4, left + 8 + x, top + 26, c);
  }
  Text(dc, left + 10, top + 6, title, RGB(255, 255, 255), 17, true);
  for (int b = 0; b < 3; ++b) {
    int bx = left + width - 24 - 20 * b;
    Fill(dc, bx, top + 7, bx + 16, top + 23, RGB(192, 192, 192));
  }
  Text(dc, left + width - 20, top + 6, "x", RGB(0, 0, 0), 16, true);
  Fill(dc, left + 4, top + 30, left + width - 4, top + height - 4, RGB(255, 255, 255));
}

// The window spans the virtual screen; `primary` is the primary monitor's part of it, where
// the icons and the taskbar go.
void Paint(HDC dc, int width, int height, const RECT &primary) {
  Wallpaper(dc, width, height);
  const char *labels[] = {"My Computer", "Documents", "Readme.txt", "Recycle Bin"};
  for (int i = 0; i < 4; ++i) Icon(dc, primary.left + 24, primary.top + 24 + 96 * i, i, labels[i]);

  int w1 = width * 2 / 5, h1 = height * 2 / 5;
  Window(dc, width / 6, height / 8, w1, h1, "Letter.txt - Notepad", false);
  const char *lines[] = {"Dear screen,",
                         "",
                         "Tonight I will soften every edge you show,",
                         "and let your colours run down like warm wax.",
                         "",
                         "Move the mouse to wake me.",
                         "",
                         "Yours, Vandrel"};
  for (int i = 0; i < 8; ++i)
    Text(dc, width / 6 + 16, height / 8 + 40 + 22 * i, lines[i], RGB(0, 0, 0), 18, false);

  int left2 = width / 2 - width / 20, top2 = height / 3, w2 = width * 2 / 5, h2 = height * 2 / 5;
  Window(dc, left2, top2, w2, h2, "Sales 1998 - Chart", true);
  const COLORREF bars[] = {RGB(220, 40, 40), RGB(240, 160, 20), RGB(250, 230, 40),
                           RGB(40, 180, 60), RGB(30, 110, 220), RGB(140, 60, 200)};
  int base = top2 + h2 - 30, slot = (w2 - 40) / 6;
  for (int i = 0; i < 6; ++i) {
    int barHeight = (h2 - 80) * (3 + (i * 5) % 7) / 10;
    Fill(dc, left2 + 24 + slot * i, base - barHeight, left2 + 24 + slot * i + slot * 2 / 3, base,
         bars[i]);
  }
  Fill(dc, left2 + 16, base, left2 + w2 - 16, base + 2, RGB(0, 0, 0));

  // Taskbar.
  int left = primary.left, right = primary.right, bottom = primary.bottom;
  Fill(dc, left, bottom - 36, right, bottom, RGB(192, 192, 192));
  Fill(dc, left, bottom - 36, right, bottom - 34, RGB(255, 255, 255));
  Fill(dc, left + 4, bottom - 31, left + 84, bottom - 5, RGB(170, 170, 170));
  Text(dc, left + 18, bottom - 28, "Start", RGB(0, 0, 0), 18, true);
  Text(dc, right - 70, bottom - 28, "21:47", RGB(0, 0, 0), 18, false);
}

// Every monitor's rectangle; the primary screen alone where the system knows no more.
RECT VirtualScreen() {
  RECT r = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  int width = GetSystemMetrics(SM_CXVIRTUALSCREEN), height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
  if (width <= 0 || height <= 0) return r;
  r.left = GetSystemMetrics(SM_XVIRTUALSCREEN);
  r.top = GetSystemMetrics(SM_YVIRTUALSCREEN);
  r.right = r.left + width;
  r.bottom = r.top + height;
  return r;
}

LRESULT CALLBACK DesktopWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      RECT client;
      GetClientRect(hwnd, &client);
      // The primary monitor is at 0,0 of the screen.
      POINT origin = {0, 0};
      ScreenToClient(hwnd, &origin);
      RECT primary = {origin.x, origin.y, origin.x + GetSystemMetrics(SM_CXSCREEN),
                      origin.y + GetSystemMetrics(SM_CYSCREEN)};
      Paint(dc, client.right, client.bottom, primary);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

}  // namespace

int PumpMessages() {
  MSG message;
  while (GetMessageA(&message, NULL, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}

// A window with the client size of a control panel's preview, for Vandrel.scr /p.
int RunPreviewHost(HINSTANCE instance) {
  RECT frame = {0, 0, 152, 112};
  AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, FALSE);
  HWND window = CreateWindowExA(
      0, "VandrelDemoDesktop", "Vandrel preview", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100,
      frame.right - frame.left, frame.bottom - frame.top, NULL, NULL, instance, NULL);
  if (!window) return 1;
  UpdateWindow(window);
  std::printf("hwnd %lu\n", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(window)));
  std::fflush(stdout);
  return PumpMessages();
}

int main(int argc, char **argv) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = DesktopWindowProc;
  wc.hInstance = GetModuleHandleA(NULL);
  wc.lpszClassName = "VandrelDemoDesktop";
  wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
  RegisterClassA(&wc);
  if (argc > 1 && lstrcmpA(argv[1], "preview") == 0) return RunPreviewHost(wc.hInstance);
  RECT screen = VirtualScreen();
  HWND window = CreateWindowExA(0, wc.lpszClassName, kTitle, WS_POPUP | WS_VISIBLE, screen.left,
                                screen.top, screen.right - screen.left, screen.bottom - screen.top,
                                NULL, NULL, wc.hInstance, NULL);
  if (!window) return 1;
  UpdateWindow(window);
  std::printf("painted\n");
  std::fflush(stdout);
  return PumpMessages();
}
