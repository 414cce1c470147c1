#include <windows.h>

#include "platform/ini_profile.h"

namespace plat {

uint32_t ReadProfileString(const char* section, const char* key, const char* defaultValue, char* buffer,
                          uint32_t size, const std::string& file) {
  return ::GetPrivateProfileStringA(section, key, defaultValue, buffer, size, file.c_str());
}

uint32_t ReadProfileInt(const char* section, const char* key, int32_t defaultValue, const std::string& file) {
  return ::GetPrivateProfileIntA(section, key, defaultValue, file.c_str());
}

}  // namespace plat
