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
}  // namespace

uint32_t GetFileFromServerV5(const std::string& url, const std::string& localFile, int32_t resume,
                             const TransferProgress& progress) {
  LogWrite(kLogTrace, "Try to GetFileFromServerV5 : URL [%s], FILENAME [%s], CONTINUE [%d]", url.c_str(),
           localFile.c_str(), resume);
  if (!RecCreateDirectoryFile(localFile)) {
    LogWrite(kLogError, "Failed to RecCreateDirectoryFile : Path [%s]", localFile.c_str());
    return kFetchFolderFailed;
  }
  int32_t result = kFetchOk;
  for (int pass = 0; pass < kPasses; ++pass) {
    // A cancel before any transfer must not read as a finished file.
    if (IsTransferCanceled()) return kFetchCanceled;
    result = GetFileBySocket(url, resume, localFile, progress);
    if (result == kFetchOk || result == kFetchCanceled) return static_cast<uint32_t>(result);
    if (resume == 0 && plat::UrlDownloadToFile(url, localFile)) return kFetchOk;
    result = GetFileByInet(localFile, url, 0, progress);
    if (result == kFetchOk || result == kFetchCanceled) return static_cast<uint32_t>(result);
  }
  return static_cast<uint32_t>(result);
}

uint32_t GetFileFromServers(const std::vector<std::string>& serverUrls, const std::string& relativeName,
                            const std::string& localFile, int32_t resume, const TransferProgress& progress) {
  for (const std::string& server : serverUrls) {
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
