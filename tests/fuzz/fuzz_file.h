// For the targets whose parsers read a file, or whose decoders write one:
// one file of the process in the temporary folder, removed at exit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/process_paths.h"

class FuzzFile {
 public:
  explicit FuzzFile(const char* name) {
    std::random_device random;
    path_ = plat::TempFolder() + "halvrecht-fuzz-" + std::to_string(random()) + "-" + name;
  }
  ~FuzzFile() { plat::RemoveFile(path_); }

  const std::string& Path() const { return path_; }

  // The file's bytes, as a decoder left them.
  std::vector<uint8_t> Contents() const {
    uint64_t size = 0;
    std::vector<uint8_t> bytes;
    plat::File file;
    if (!plat::FileSize(path_, &size) || !file.Open(path_, plat::File::kRead, plat::File::kShareRead,
                                                    plat::File::kOpenExisting)) {
      abort();
    }
    bytes.resize(static_cast<size_t>(size));
    uint32_t done = 0;
    if (size > 0 && (!file.Read(bytes.data(), static_cast<uint32_t>(size), &done) || done != size)) abort();
    return bytes;
  }

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
