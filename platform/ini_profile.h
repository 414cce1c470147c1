// Windows profile (INI) files read with the exact results of
// GetPrivateProfileStringA and GetPrivateProfileIntA. The Windows backend
// calls them; the POSIX backend is a reader of its own with the same
// results: section and key names match without regard to letter case,
// names and values are trimmed of blanks, a value in matching single or
// double quotes loses them, lines beginning with ';' are comments, and a
// missing file reads as empty.
#pragma once

#include <cstdint>
#include <string>

namespace plat {

// GetPrivateProfileStringA. Copies the value (or `defaultValue`, trailing
// blanks removed, "" for null) into buffer, cut to size - 1 bytes, and
// returns the number of bytes copied. With a null key, buffer receives the
// section's key names, with a null section the file's section names, each
// zero-terminated and the list ended by an extra zero.
uint32_t ReadProfileString(const char* section, const char* key, const char* defaultValue, char* buffer,
                          uint32_t size, const std::string& file);

// GetPrivateProfileIntA: the value's leading decimal integer (with an
// optional sign), 0 when the value has none, `defaultValue` when the key is
// missing or its value is empty.
uint32_t ReadProfileInt(const char* section, const char* key, int32_t defaultValue, const std::string& file);

}  // namespace plat
