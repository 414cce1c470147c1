#include "engine/file_crc_cache.h"

#include "download/crc32.h"

std::string CFileCrcCache::FileCrcText(const std::string& path) {
  plat::FileStamp before;
  const bool stamped = plat::GetFileStamp(path, &before);
  if (stamped) {
    std::lock_guard<std::mutex> hold(m_lock);
    const auto found = m_entries.find(path);
    if (found != m_entries.end()) {
      if (found->second.stamp == before) return found->second.crc;
      m_entries.erase(found);
    }
  }
  const int64_t readStart = plat::FileClockNowNs();
  const std::string crc = GetFileCrcText(path);
  plat::FileStamp after;
  std::lock_guard<std::mutex> hold(m_lock);
  ++m_reads;
  if (stamped && crc != kCrcUnknownText && plat::GetFileStamp(path, &after) && after == before &&
      before.modifiedNs < readStart - m_stampStepNs && before.changedNs < readStart - m_stampStepNs) {
    m_entries[path] = Entry{before, crc};
  }
  return crc;
}

void CFileCrcCache::Clear() {
  std::lock_guard<std::mutex> hold(m_lock);
  m_entries.clear();
  m_reads = 0;
}

uint64_t CFileCrcCache::ReadsForTesting() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_reads;
}
