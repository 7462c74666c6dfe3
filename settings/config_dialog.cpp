// The configuration dialog: shows the stored method and lossy flag and writes them back on OK.
#include "settings.h"

#include "host/host.h"

const int kDialogTemplate = 2003;
const int kGradualButton = 1002;
const int kFasterButton = 1003;
const int kMeltingButton = 1004;
const int kLossyBox = 1005;

BOOL RegisterConfigClasses(HINSTANCE) {
  return TRUE;  // the dialog uses only the system's own control classes
}

int RunConfigDialog(HWND owner) {
  HINSTANCE instance = gHostState.instance;
  if (!RegisterConfigClasses(instance)) return 0;
  return static_cast<int>(
      DialogBoxParamA(instance, MAKEINTRESOURCEA(kDialogTemplate), owner, ConfigDialogProc, 0));
}

static void SetCheck(HWND dialog, int id, BOOL on) {
  SendDlgItemMessageA(dialog, id, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

static BOOL IsChecked(HWND dialog, int id) {
  return SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

static void ShowSettings(HWND dialog) {
  LoadSettings();
  SetCheck(dialog, kGradualButton, gSettings.method == SmearGradual);
  SetCheck(dialog, kFasterButton, gSettings.method == SmearFaster);
  SetCheck(dialog, kMeltingButton, gSettings.method == SmearMelting);
  SetCheck(dialog, kLossyBox, gSettings.lossy != 0);
}

// Only the first two buttons are asked: a group with neither of them on means Melting.
static void StoreChoice(HWND dialog) {
  if (IsChecked(dialog, kGradualButton))
    gSettings.method = SmearGradual;
  else if (IsChecked(dialog, kFasterButton))
    gSettings.method = SmearFaster;
  else
    gSettings.method = SmearMelting;
  gSettings.lossy = IsChecked(dialog, kLossyBox) ? 1 : 0;
  SaveSettings();
}

INT_PTR CALLBACK ConfigDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
  switch (msg) {
    case WM_INITDIALOG:
      ShowSettings(dialog);
      return TRUE;
    case WM_COMMAND:
      // The whole wParam: a notification in the high word is neither OK nor Cancel.
      if (wParam == IDOK) {
        StoreChoice(dialog);
        EndDialog(dialog, 1);
        return TRUE;
      }
      if (wParam == IDCANCEL) {
        EndDialog(dialog, 0);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}
