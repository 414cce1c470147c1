// The CRCs of client files computed during one patch run, kept while the
// file is provably unchanged. A run that steps through several versions
// reads every client file in each list load and again in the verification;
// on a client of many gigabytes most of those reads find files no version
// touched. A kept CRC is used only while the file's stamp (identity, size,
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
