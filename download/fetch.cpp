#include "download/fetch.h"

#include "download/http_inet.h"
#include "download/http_socket.h"
#include "engine/folders.h"
#include "engine/patch_log.h"
#include "platform/file_system.h"
#include "platform/path.h"
#include "platform/url_moniker.h"

namespace {
constexpr int kPasses = 3;

uint32_t GiveUp(const std::string& url, int32_t result) {
  LogWrite(kLogError, "No data for %u ms, gave up : URL [%s]", static_cast<unsigned>(FetchNoProgressLimitMs()),
           url.c_str());
  return static_cast<uint32_t>(result);
}
}  // namespace

uint32_t GetFileFromServerV5(const std::string& url, const std::string& localFile, int32_t resume,
                             const TransferProgress& progress) {
  LogWrite(kLogTrace, "Try to GetFileFromServerV5 : URL [%s], FILENAME [%s], CONTINUE [%d]", url.c_str(),
           localFile.c_str(), resume);
  if (!RecCreateDirectoryFile(localFile)) {
    LogWrite(kLogError, "Failed to RecCreateDirectoryFile : Path [%s]", localFile.c_str());
    return kFetchFolderFailed;
  }
  const FetchWatchScope watch;
  int32_t result = kFetchOpenFailed;
  for (int pass = 0; pass < kPasses; ++pass) {
    for (int transport = 0; transport < 3; ++transport) {
      // A cancel before any transfer must not read as a finished file.
      if (IsTransferCanceled()) return kFetchCanceled;
      if (FetchGaveUp()) return GiveUp(url, result);
      if (transport == 0) {
        result = GetFileBySocket(url, resume, localFile, progress);
      } else if (transport == 1) {
        if (resume != 0) continue;
        if (plat::UrlDownloadToFile(url, localFile, &ShouldAbortTransfer, &NoteTransferProgress)) return kFetchOk;
        continue;
      } else {
        result = GetFileByInet(localFile, url, 0, progress);
      }
      if (result == kFetchOk || result == kFetchCanceled) return static_cast<uint32_t>(result);
    }
  }
  // A transfer that a stop ended reports whatever its wait gave (a failed
  // head, a broken body); the stop is what the caller must hear.
  return static_cast<uint32_t>(IsTransferCanceled() ? kFetchCanceled : result);
}

uint32_t GetFileFromServers(const std::vector<std::string>& serverUrls, const std::string& relativeName,
                            const std::string& localFile, int32_t resume, const TransferProgress& progress) {
  const FetchWatchScope watch;
  for (const std::string& server : serverUrls) {
    if (FetchGaveUp()) break;
    const uint32_t result = GetFileFromServerV5(server + "/" + relativeName, localFile, resume, progress);
    if (result == kFetchOk || result == kFetchCanceled) return result;
  }
  return kFetchFolderFailed;
}

void ClearFolder(const std::string& folderPattern) {
  const std::string folder = plat::FolderOf(folderPattern);
  std::vector<plat::FindEntry> entries;
  if (!plat::FindEntries(folderPattern, &entries)) return;
  for (const plat::FindEntry& entry : entries) {
    if (entry.name == "." || entry.name == "..") continue;
    const std::string path = folder + entry.name;
    if (entry.IsDirectory()) {
      ClearFolder(path + "\\*.*");
      plat::RemoveFolder(path);
    } else {
      plat::SetAttributes(path, plat::kAttrNormal);
      plat::RemoveFile(path);
    }
  }
}

void RemoveFolderTree(const std::string& folder) {
  ClearFolder(folder + "\\*.*");
  plat::RemoveFolder(folder);
}
