// For the targets whose parsers read a file: the input is written to one
// file of the process in the temporary folder, removed at exit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>

#include "platform/file_system.h"
#include "platform/process_paths.h"

class FuzzFile {
 public:
  explicit FuzzFile(const char* name) {
    std::random_device random;
    path_ = plat::TempFolder() + "halvrecht-fuzz-" + std::to_string(random()) + "-" + name;
  }
  ~FuzzFile() { plat::RemoveFile(path_); }

  // The file now holds exactly these bytes.
  const std::string& Holding(const uint8_t* data, size_t size) {
    plat::File file;
    uint32_t done = 0;
    if (!file.Open(path_, plat::File::kWrite, plat::File::kShareNone, plat::File::kCreateAlways) ||
        (size > 0 && !file.Write(data, static_cast<uint32_t>(size), &done))) {
      abort();  // the harness itself failed, not the parser
    }
    return path_;
  }

 private:
  std::string path_;
};
