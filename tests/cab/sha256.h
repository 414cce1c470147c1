// SHA-256 (FIPS 180-4) for checking extracted files against the manifests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace cabtest {

class Sha256 {
 public:
  Sha256();
  void Update(const void* data, size_t size);
  // Lower-case hexadecimal digest; the object is spent afterwards.
  std::string HexDigest();

 private:
  void Block(const uint8_t* p);

  uint32_t state_[8];
  uint64_t length_ = 0;  // bytes seen
  uint8_t buffer_[64];
  size_t buffered_ = 0;
};

std::string Sha256Hex(const void* data, size_t size);

}  // namespace cabtest
