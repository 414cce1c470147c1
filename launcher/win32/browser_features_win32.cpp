#include "launcher/win32/browser_features_win32.h"

#include <windows.h>

#include <string>

#include "launcher/browser_features.h"

namespace launcher::win32 {
namespace {

std::string ReadMachineText(const char* key, const char* name) {
  char value[64] = {};
  DWORD size = sizeof(value) - 1;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, key, name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) return {};
  return value;
}

std::wstring ProgramFileName() {
  wchar_t path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  std::wstring full(path, n);
  size_t slash = full.find_last_of(L"\\/");
  return slash == std::wstring::npos ? full : full.substr(slash + 1);
}

}  // namespace

int WriteBrowserFeatureControl() {
  const char* ie = "SOFTWARE\\Microsoft\\Internet Explorer";
  std::string svc = ReadMachineText(ie, "svcVersion"), plain = ReadMachineText(ie, "version");
  auto emulation = BrowserEmulationValue(InstalledBrowserVersion(svc, plain));
  std::wstring name = ProgramFileName();
  if (!emulation || name.empty()) return 0;
  int written = 0;
  for (const BrowserFeature& f : BrowserFeatureValues(*emulation)) {
    std::wstring key = L"Software\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\";
    for (const char* c = f.subkey; *c; ++c) key += static_cast<wchar_t>(*c);
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr) !=
        ERROR_SUCCESS)
      continue;
    DWORD value = f.value;
    if (RegSetValueExW(handle, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)) ==
        ERROR_SUCCESS)
      ++written;
    RegCloseKey(handle);
  }
  return written;
}

}  // namespace launcher::win32
