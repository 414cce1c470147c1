// Names of section cabinets on the servers and in the download folder.
#pragma once

#include <cstdint>
#include <string>

// "<server>/<version>/<section>D.cab" or "...N.cab"; the server has no
// trailing "/".
std::string BuildCabUrl(const std::string& serverUrl, uint32_t version, uint32_t section, bool isDiff);
// "<download folder><version>\\<section>D.cab" or "...N.cab".
std::string BuildLocalCabPath(const std::string& downloadFolder, uint32_t version, uint32_t section, bool isDiff);
// The downloaded cabinet of a section, numbered copies considered.
std::string FindCabFile(const std::string& downloadFolder, uint32_t version, uint32_t section, bool isDiff);
