// UTF-8 <-> UTF-16 for the Windows backend and the Windows-only launcher
// code: portable code speaks UTF-8, the wide Windows calls UTF-16.
#pragma once

#include <windows.h>

#include <string>

namespace plat {

inline std::wstring CodePageToWide(const std::string& text, UINT codePage) {
  if (text.empty()) return std::wstring();
  const int n = ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

inline std::wstring Utf8ToWide(const std::string& text) { return CodePageToWide(text, CP_UTF8); }

// Engine text and settings values: the system's ANSI code page.
inline std::wstring AnsiToWide(const std::string& text) { return CodePageToWide(text, CP_ACP); }

inline std::string WideToUtf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int n =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), n, nullptr, nullptr);
  return narrow;
}

}  // namespace plat
