// The user's two settings, their registry store and the dialog that edits them.
#pragma once

#include <stdint.h>

enum SmearMethod : int32_t {
  SmearGradual = 1,
  SmearFaster = 2,
  SmearMelting = 3,
};

struct Settings {
  int32_t method;  // a SmearMethod
  int32_t lossy;   // 1 truncates the averages, 0 rounds them
};

extern Settings gSettings;

const int32_t kDefaultMethod = SmearFaster;
const int32_t kDefaultLossy = 0;

// Registry value types that matter to the store (the platform's own numbers).
const uint32_t kRegistryDword = 4;  // REG_DWORD

// What one registry query left behind, reduced to the setting it stands for: the stored number
// when the query succeeded on a REG_DWORD, the fallback otherwise.
int32_t SettingFromQuery(bool queryOk, uint32_t valueType, int32_t storedValue, int32_t fallback);

// Forces both fields into range with signed comparisons: method 1..3, lossy 0..1.
void ClampSettings(Settings &settings);

#if defined(_WIN32)
#include <windows.h>

extern const char kSettingsKeyPath[];  // under HKEY_CURRENT_USER

void LoadSettings();
void SaveSettings();

int RunConfigDialog(HWND owner);
BOOL RegisterConfigClasses(HINSTANCE instance);
INT_PTR CALLBACK ConfigDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
#endif
