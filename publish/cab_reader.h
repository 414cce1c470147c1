// Every file of a cabinet, extracted with our own decoder (the one the
// patcher runs) into flat, numbered files of a scratch folder, with the
// names the cabinet stores. For checking what a repository ships.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace publish {

struct CabEntry {
  std::string name;  // the stored name
  std::string path;  // where its bytes were written
  uint64_t size = 0;
};

struct CabContents {
  bool ok = false;
  int fdiError = 0;    // the decoder's error code when !ok
  std::string error;   // what went wrong, for people
  std::vector<CabEntry> files;
};

// `scratch` is an existing folder; the files are "<scratch><stem><n>".
CabContents ExtractCabinet(const std::string& cabPath, const std::string& scratch, const std::string& stem = "f");

}  // namespace publish
