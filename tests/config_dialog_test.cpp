// The configuration dialog shown for real under Wine and driven from a second thread as a
// user would drive it, with the settings in the prefix's registry.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <functional>

#include "host/host.h"
#include "registry_shapes.h"
#include "settings/settings.h"

namespace {

const char kCaption[] = "Vandrel Settings";

HWND WaitForDialog() {
  for (int i = 0; i < 400; ++i) {
    HWND dialog = FindWindowA(NULL, kCaption);
    if (dialog != NULL && IsWindowVisible(dialog)) return dialog;
    Sleep(25);
  }
  return NULL;
}

bool Checked(HWND dialog, int id) {
  return SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

struct Driver {
  std::function<void(HWND)> act;
  bool found;
};

DWORD WINAPI DriveDialog(void *parameter) {
  Driver *driver = static_cast<Driver *>(parameter);
  HWND dialog = WaitForDialog();
  driver->found = dialog != NULL;
  if (dialog != NULL) driver->act(dialog);
  return 0;
}

class ConfigDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    RegDeleteKeyA(HKEY_CURRENT_USER, kSettingsKeyPath);
    gHostState.instance = GetModuleHandleA(NULL);
  }
  void TearDown() override { RegDeleteKeyA(HKEY_CURRENT_USER, kSettingsKeyPath); }

  // Runs the dialog on this thread while another thread acts on it; the dialog's result.
  static int Run(std::function<void(HWND)> act) {
    Driver driver = {act, false};
    HANDLE thread = CreateThread(NULL, 0, DriveDialog, &driver, 0, NULL);
    int result = RunConfigDialog(NULL);
    WaitForSingleObject(thread, 20000);
    CloseHandle(thread);
    EXPECT_TRUE(driver.found) << "no dialog captioned " << kCaption;
    return result;
  }

  static void Store(const char *name, DWORD type, const void *data, DWORD size) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                              &key, NULL),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE *>(data), size),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  static void StoreDword(const char *name, int32_t value) {
    Store(name, REG_DWORD, &value, sizeof value);
  }
  // The stored value and its type; false when it is not there.
  static bool Stored(const char *name, DWORD &type, int32_t &value) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
      return false;
    DWORD size = sizeof value;
    LONG status = RegQueryValueExA(key, name, NULL, &type, reinterpret_cast<BYTE *>(&value), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
  }

  struct Shown {
    bool gradual, faster, melting, lossy;
  };
  // What the dialog shows when it opens with the registry as it is; closed with Escape.
  static Shown ShownOnOpening() {
    Shown shown = {};
    int result = Run([&](HWND dialog) {
      shown = {Checked(dialog, 1002), Checked(dialog, 1003), Checked(dialog, 1004),
               Checked(dialog, 1005)};
      PostMessageA(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
    });
    EXPECT_EQ(result, 0);
    return shown;
  }
};

TEST_F(ConfigDialog, OpensWithTheStoredOrClampedDefaultSettings) {
  Shown shown = ShownOnOpening();
  EXPECT_TRUE(!shown.gradual && shown.faster && !shown.melting && !shown.lossy)
      << "no settings stored";

  StoreDword("Method", 3);
  StoreDword("Lossy", 1);
  shown = ShownOnOpening();
  EXPECT_TRUE(!shown.gradual && !shown.faster && shown.melting && shown.lossy);

  StoreDword("Method", 1);
  StoreDword("Lossy", 0);
  shown = ShownOnOpening();
  EXPECT_TRUE(shown.gradual && !shown.faster && !shown.melting && !shown.lossy);

  // Out of range: clamped into 1..3 and 0..1.
  StoreDword("Method", 9);
  StoreDword("Lossy", -4);
  shown = ShownOnOpening();
  EXPECT_TRUE(!shown.gradual && !shown.faster && shown.melting && !shown.lossy);
  StoreDword("Method", -2);
  StoreDword("Lossy", 5);
  shown = ShownOnOpening();
  EXPECT_TRUE(shown.gradual && !shown.faster && !shown.melting && shown.lossy);
}

TEST_F(ConfigDialog, OkStoresTheChosenMethodAndLossyFlagAsDwords) {
  struct Case {
    int button, method;
    bool lossy;
  };
  for (Case c : {Case{1002, 1, true}, Case{1004, 3, false}, Case{1003, 2, true}}) {
    int result = Run([&](HWND dialog) {
      SendDlgItemMessageA(dialog, c.button, BM_CLICK, 0, 0);
      if (Checked(dialog, 1005) != c.lossy) SendDlgItemMessageA(dialog, 1005, BM_CLICK, 0, 0);
      SendDlgItemMessageA(dialog, IDOK, BM_CLICK, 0, 0);
    });
    EXPECT_EQ(result, 1);
    DWORD type = 0;
    int32_t value = -1;
    ASSERT_TRUE(Stored("Method", type, value));
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(value, c.method);
    ASSERT_TRUE(Stored("Lossy", type, value));
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(value, c.lossy ? 1 : 0);
    EXPECT_EQ(gSettings.method, c.method);
    EXPECT_EQ(gSettings.lossy, c.lossy ? 1 : 0);
  }
}

// Whatever was stored before, a confirmed dialog leaves two clean four-byte numbers. Each
// dialog takes about 2 s to close on the test display, so a few shapes stand for them all
// here; the settings store's own tests read every shape.
TEST_F(ConfigDialog, OkOverOtherShapesStoresCleanDwords) {
  for (const wintest::RegistryShape &shape : wintest::ShapesOtherThanDword(3)) {
    if (shape.name != "REG_SZ" && shape.name != "REG_MULTI_SZ" && shape.name != "REG_QWORD" &&
        shape.name != "huge REG_BINARY" && shape.name != "REG_DWORD of 2 bytes" &&
        shape.name != "REG_DWORD of 8 bytes")
      continue;
    HKEY key;
    ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, kSettingsKeyPath, &key), ERROR_SUCCESS);
    EXPECT_EQ(wintest::StoreShape(key, "Method", shape), ERROR_SUCCESS) << shape.name;
    EXPECT_EQ(wintest::StoreShape(key, "Lossy", shape), ERROR_SUCCESS) << shape.name;
    RegCloseKey(key);
    Shown opened = {};
    int result = Run([&](HWND dialog) {
      opened = {Checked(dialog, 1002), Checked(dialog, 1003), Checked(dialog, 1004),
                Checked(dialog, 1005)};
      SendDlgItemMessageA(dialog, 1002, BM_CLICK, 0, 0);
      SendDlgItemMessageA(dialog, 1005, BM_CLICK, 0, 0);
      SendDlgItemMessageA(dialog, IDOK, BM_CLICK, 0, 0);
    });
    EXPECT_EQ(result, 1) << shape.name;
    EXPECT_TRUE(!opened.gradual && opened.faster && !opened.melting && !opened.lossy)
        << shape.name << ": the defaults were not shown";
    for (const char *name : {"Method", "Lossy"}) {
      DWORD type = 0, size = 8;
      BYTE data[8] = {};
      ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_READ, &key),
                ERROR_SUCCESS);
      EXPECT_EQ(RegQueryValueExA(key, name, NULL, &type, data, &size), ERROR_SUCCESS);
      RegCloseKey(key);
      EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD)) << shape.name << ' ' << name;
      EXPECT_EQ(size, 4u) << shape.name << ' ' << name;
      EXPECT_EQ(data[0], 1) << shape.name << ' ' << name;
      EXPECT_EQ(data[1] | data[2] | data[3], 0) << shape.name << ' ' << name;
    }
  }
}

TEST_F(ConfigDialog, ReturnKeyPressesOkAndNoCheckedMethodMeansMelting) {
  int result = Run([](HWND dialog) {
    // Neither of the first two methods checked: OK takes the third.
    SendDlgItemMessageA(dialog, 1003, BM_SETCHECK, BST_UNCHECKED, 0);
    PostMessageA(GetDlgItem(dialog, IDOK), WM_KEYDOWN, VK_RETURN, 0);
  });
  EXPECT_EQ(result, 1);
  DWORD type = 0;
  int32_t value = -1;
  ASSERT_TRUE(Stored("Method", type, value));
  EXPECT_EQ(value, 3);
}

TEST_F(ConfigDialog, EscapeAndTheCloseBoxStoreNothing) {
  StoreDword("Method", 1);
  for (int way = 0; way < 2; ++way) {
    int result = Run([&](HWND dialog) {
      SendDlgItemMessageA(dialog, 1004, BM_CLICK, 0, 0);
      SendDlgItemMessageA(dialog, 1005, BM_CLICK, 0, 0);
      if (way == 0)
        PostMessageA(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
      else
        PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    });
    EXPECT_EQ(result, 0) << way;
    DWORD type = 0;
    int32_t value = -1;
    ASSERT_TRUE(Stored("Method", type, value));
    EXPECT_EQ(value, 1) << way;
    EXPECT_FALSE(Stored("Lossy", type, value)) << way;
    // In memory the settings stay as loaded when the dialog opened.
    EXPECT_EQ(gSettings.method, 1) << way;
    EXPECT_EQ(gSettings.lossy, 0) << way;
  }
}

TEST_F(ConfigDialog, CommandsWithANotificationCodeAreNeitherOkNorCancel) {
  bool openAfterwards = false;
  int result = Run([&](HWND dialog) {
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_DOUBLECLICKED), 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, 1), 0);
    Sleep(200);
    openAfterwards = IsWindow(dialog) && IsWindowVisible(dialog);
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  });
  EXPECT_TRUE(openAfterwards);
  EXPECT_EQ(result, 0);
  DWORD type = 0;
  int32_t value = -1;
  EXPECT_FALSE(Stored("Method", type, value));
}

// Each choice's name shows whole beside its box in the dialog's own font: the box (the
// system's check-mark width) and the gap the button leaves before the text (a few pixels:
// half a digit's width in Wine, about as much on Windows) fit with the text in the control.
TEST_F(ConfigDialog, EachButtonShowsItsWholeText) {
  const int kGap = 4;
  int result = Run([&](HWND dialog) {
    RECT units = {0, 0, 4, 8};
    MapDialogRect(dialog, &units);
    for (int id : {1002, 1003, 1004, 1005}) {
      SCOPED_TRACE(id);
      HWND button = GetDlgItem(dialog, id);
      ASSERT_NE(button, nullptr);
      char text[64] = {};
      int length = GetWindowTextA(button, text, sizeof text);
      ASSERT_GT(length, 0);
      HFONT font = reinterpret_cast<HFONT>(SendMessageA(button, WM_GETFONT, 0, 0));
      ASSERT_NE(font, nullptr) << "the dialog's font";
      HDC dc = GetDC(button);
      HGDIOBJ old = SelectObject(dc, font);
      SIZE extent = {};
      GetTextExtentPoint32A(dc, text, length, &extent);
      SelectObject(dc, old);
      ReleaseDC(button, dc);
      RECT client;
      GetClientRect(button, &client);
      int needed = GetSystemMetrics(SM_CXMENUCHECK) + kGap + extent.cx;
      std::printf("%d \"%s\": text %ld px (%.1f units), needs %d px (%.1f units) of %ld px\n", id,
                  text, extent.cx, extent.cx * 4.0 / units.right, needed,
                  needed * 4.0 / units.right, client.right);
      EXPECT_LE(needed, client.right) << '"' << text << "\" is cut off";
      RECT inDialog = client, dialogClient;
      MapWindowPoints(button, dialog, reinterpret_cast<POINT *>(&inDialog), 2);
      GetClientRect(dialog, &dialogClient);
      EXPECT_LE(inDialog.right, dialogClient.right) << "reaches out of the dialog";
    }
    PostMessageA(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
  });
  EXPECT_EQ(result, 0);
}

TEST(ConfigDialogProc, LeavesOtherMessagesToTheDialogManager) {
  EXPECT_EQ(ConfigDialogProc(NULL, WM_PAINT, 0, 0), FALSE);
  EXPECT_EQ(ConfigDialogProc(NULL, WM_COMMAND, 1002, 0), FALSE);
  EXPECT_EQ(ConfigDialogProc(NULL, WM_COMMAND, MAKEWPARAM(IDOK, 1), 0), FALSE);
  EXPECT_EQ(RegisterConfigClasses(GetModuleHandleA(NULL)), TRUE);
}

}  // namespace
