// The CRCs of client files computed during one patch run, kept while the
// file is provably unchanged. A repair or a heal walks the whole client up
// to three times (the check, the heal's walk, the check after it); on a
// client of many gigabytes all but the healed files are the same each time.
// A kept CRC is used only while the file's stamp (identity, size,
// write and change times) is exactly the one it had while it was read, and
// it is kept only for a file whose stamps were then older than the read by
// more than the coarsest time step of the file systems a client may live on:
// a write during or after the read then always shows in the stamp.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/file_system.h"

class CFileCrcCache {
 public:
  // FAT stores write times in steps of two seconds.
  static constexpr int64_t kStampStepNs = 2'000'000'000;

  // Tests give a step below zero to keep the CRCs of files just written.
  explicit CFileCrcCache(int64_t stampStepNs = kStampStepNs) : m_stampStepNs(stampStepNs) {}
  void SetStampStepForTesting(int64_t stampStepNs) { m_stampStepNs = stampStepNs; }

  // The file's CRC text as GetFileCrcText gives it ("0xffffffff" when it
  // cannot be read), from the cache when the file is unchanged.
  std::string FileCrcText(const std::string& path);
  void Clear();

  // Files read rather than taken from the cache, since the last Clear.
  uint64_t ReadsForTesting() const;

 private:
  struct Entry {
    plat::FileStamp stamp;
    std::string crc;
  };
  std::atomic<int64_t> m_stampStepNs;
  mutable std::mutex m_lock;
  std::unordered_map<std::string, Entry> m_entries;
  uint64_t m_reads = 0;
};
