#include <algorithm>
#include <cstdio>
#include <cstring>

#include "download/downloader_http.h"
#include "download/fetch.h"
#include "engine/folders.h"
#include "engine/manifest.h"
#include "engine/patch_log.h"
#include "engine/patch_main.h"
#include "engine/self_update.h"
#include "engine/version_file.h"
#include "platform/clock.h"
#include "platform/file_system.h"

namespace {

constexpr uint32_t kEngineBuild = 12;

// Init's result codes.
constexpr uint32_t kInitReady = 0;
constexpr uint32_t kInitManifestFailed = 3;
constexpr uint32_t kInitLocalVersionFailed = 4;
constexpr uint32_t kInitBelowMinimal = 5;
constexpr uint32_t kInitAboveLatest = 6;
constexpr uint32_t kInitUpToDate = 7;
constexpr uint32_t kInitSetupFailed = 11;

// A manifest is a small INI file; one larger than this is not kept in
// memory across the download.
constexpr uint64_t kMaxSavedManifest = 16u << 20;

// A text field of the start parameters; the caller's array need not be
// terminated.
std::string ParamText(const char (&field)[kEngineTextSize]) { return std::string(field, strnlen(field, sizeof field)); }

bool ReadWholeFile(const std::string& path, std::string* content) {
  plat::File file;
  uint64_t size = 0;
  if (!file.Open(path, plat::File::kRead, plat::File::kShareRead, plat::File::kOpenExisting) || !file.Size(&size) ||
      size > kMaxSavedManifest) {
    return false;
  }
  content->assign(static_cast<size_t>(size), '\0');
  uint32_t got = 0;
  if (size > 0 && (!file.Read(content->data(), static_cast<uint32_t>(size), &got) || got != size)) return false;
  return true;
}

bool WriteWholeFile(const std::string& path, const std::string& content) {
  plat::File file;
  if (!file.Open(path, plat::File::kWrite, plat::File::kShareNone, plat::File::kCreateAlways)) return false;
  uint32_t done = 0;
  return content.empty() || (file.Write(content.data(), static_cast<uint32_t>(content.size()), &done) &&
                             done == content.size() && file.Flush());
}

// The transfers create their target before they know whether the server
// answers, so a failed download can leave the old manifest empty or half
// overwritten. The old manifest is what a later start may fall back on:
// put its bytes back.
void RestoreManifest(const std::string& path, const std::string& saved) {
  std::string now;
  if (ReadWholeFile(path, &now) && now == saved) return;
  plat::SetAttributes(path, plat::kAttrNormal);
  if (!WriteWholeFile(path, saved)) {
    LogWrite(kLogError, "Failed to restore the old version.ini file - LastErrorCode[%d]",
             static_cast<int32_t>(plat::LastError()));
  }
}

bool IsDigitsOnly(const std::string& name) {
  if (name.empty()) return false;
  for (char c : name) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// A version folder's number; false when it does not fit 32 bits (such a
// folder can belong to no version below the local one).
bool FolderVersion(const std::string& name, uint32_t* version) {
  uint64_t value = 0;
  for (char c : name) {
    value = value * 10 + static_cast<uint32_t>(c - '0');
    if (value > UINT32_MAX) return false;
  }
  *version = static_cast<uint32_t>(value);
  return true;
}

}  // namespace

uint32_t CPatchMain::Init(const PatchStartParams& params, PatchStartResults* results) {
  LogWrite(kLogDetail, "Patch Exp Version [2_0_0_%d]", kEngineBuild);
  m_ownerWindow = params.ownerWindow;
  m_progressMessage = params.progressMessage;
  m_errorMessage = params.errorMessage;

  const size_t length = strnlen(params.workingFolder, sizeof params.workingFolder);
  if (length == 0 || length == sizeof params.workingFolder) {
    LogWrite(kLogError, "Invalid working folder in the start parameters");
    return kInitManifestFailed;
  }
  m_workingFolder.assign(params.workingFolder, length);
  if (m_workingFolder.back() != '\\' && m_workingFolder.back() != '/') m_workingFolder += '\\';
  m_flags = params.flags;
  m_downloadFolder = m_workingFolder + "backup\\";
  m_tempFolder = m_workingFolder + "backup\\temp\\";
  m_outputFolder = m_workingFolder + "backup\\output\\";

  // Update files left by the self-updater are installed before anything
  // else; how that goes does not change the decisions below.
  ProcSelfUpdate();

  // Callers that want no results still get a run; the fields go nowhere.
  PatchStartResults unused{};
  PatchStartResults& out = results != nullptr ? *results : unused;

  m_manifestPath = m_workingFolder + "version.ini";
  const bool manifestExisted = plat::FileExists(m_manifestPath);
  std::string savedManifest;
  const bool manifestSaved = manifestExisted && ReadWholeFile(m_manifestPath, &savedManifest);
  if (params.keepOldManifest == 0 && !plat::SetAttributes(m_manifestPath, plat::kAttrNormal)) {
    LogWrite(kLogError, "Failed to SetFileAttribute version.ini file - LastErrorCode[%d]",
             static_cast<int32_t>(plat::LastError()));
  }
  if (GetFileFromServerV5(ParamText(params.manifestUrl), m_manifestPath, 0, TransferProgress()) != kFetchOk) {
    if (manifestSaved) {
      RestoreManifest(m_manifestPath, savedManifest);
    } else if (!manifestExisted) {
      // Whatever the failed transfer left is no manifest; a later start
      // must not take it for an old one.
      plat::SetAttributes(m_manifestPath, plat::kAttrNormal);
      plat::RemoveFile(m_manifestPath);
    }
    if (!manifestExisted || params.keepOldManifest == 0) {
      LogWrite(kLogError, "Failed to download version.ini file");
      return kInitManifestFailed;
    }
  }

  ManifestValues manifest;
  const uint32_t manifestRead = ReadManifest(m_manifestPath, ParamText(params.versionSection),
                                             ParamText(params.downloadSection),
                                             static_cast<uint64_t>(plat::CalendarSeconds()), &manifest);
  out.latestVersion = manifest.latest;
  out.minimalVersion = manifest.minimal;
  out.preDownStartVersion = manifest.preDownStart;
  out.preDownEndVersion = manifest.preDownEnd;
  out.serverPatcherVersion = manifest.serverPatcher;
  m_downloadUrls = manifest.downloadUrls;
  if (manifestRead != 0) return kInitManifestFailed;
  snprintf(out.firstServerUrl, sizeof out.firstServerUrl, "%s", m_downloadUrls.front().c_str());

  m_versions.latest = out.latestVersion;
  m_versions.minimal = out.minimalVersion;
  m_versions.preDownStart = out.preDownStartVersion;
  m_versions.preDownEnd = out.preDownEndVersion;
  m_versions.serverPatcher = out.serverPatcherVersion;

  uint32_t local = 0;
  if (!GetVerFile(m_workingFolder, &local)) {
    LogWrite(kLogError, "Failed to get local version file");
    return kInitLocalVersionFailed;
  }
  m_versions.local = local;
  out.localVersion = local;
  if (local < m_versions.minimal) {
    LogWrite(kLogError, "The local version is lower than minimal version");
    return kInitBelowMinimal;
  }
  if (local > m_versions.latest) {
    LogWrite(kLogError, "The local version is higher than latest version");
    return kInitAboveLatest;
  }

  m_versions.toGo = m_versions.latest - local;
  m_versions.current = local;
  m_versions.lastCompleted = local;
  m_liveStatus = PatchStatus{};

  // The files of every version above the base are verified at the end of
  // the run: the run's own versions, those of an earlier run whose finish
  // never completed, or for a repair all the servers still describe.
  uint32_t pendingBase = local;
  const bool finishPending = GetPendingFinish(m_downloadFolder, &pendingBase);
  m_verifyBase = (m_flags & kFlagRepair) != 0 ? m_versions.minimal : std::min(local, pendingBase);
  m_verifyBase = std::max(m_verifyBase, m_versions.minimal);

  if (!CreateTaskWorker()) return kInitSetupFailed;

  if (local == m_versions.latest) {
    if (!finishPending && (m_flags & kFlagRepair) == 0) {
      LogWrite(kLogDetail, "It doesn't need patch");
      return kInitUpToDate;
    }
    // The launcher must run the engine so the client is verified, healed
    // and its deletion list applied before it counts as current.
    LogWrite(kLogDetail, "The client is verified from version [%d] before it counts as current",
             static_cast<int32_t>(m_verifyBase));
  }

  if ((m_flags & kFlagRemoveStaleVersions) != 0) {
    std::vector<plat::FindEntry> entries;
    if (plat::FindEntries(m_downloadFolder + "*.*", &entries)) {
      for (const plat::FindEntry& entry : entries) {
        uint32_t version = 0;
        // Folders of versions already applied hold nothing a run still needs.
        if (entry.IsDirectory() && IsDigitsOnly(entry.name) && FolderVersion(entry.name, &version) &&
            version < local) {
          DeleteFolder(m_downloadFolder + entry.name);
        }
      }
    }
  }

  std::unique_ptr<CDownloader> downloader = CreateDownloader(static_cast<int32_t>(params.downloaderType));
  if (!downloader) {
    LogWrite(kLogError, "Failed to create downloader : type [%d]", static_cast<int32_t>(params.downloaderType));
    return kInitSetupFailed;
  }
  const int32_t initResult = downloader->Init(local, this, m_manifestPath);
  if (initResult < 0) {
    LogWrite(kLogError, "Failed to Init Downloader : Result [%d] DNLastErrorCode [%d]", initResult,
             static_cast<int32_t>(downloader->GetLastErrorCode()));
    return kInitSetupFailed;
  }
  m_downloader = std::move(downloader);
  m_downloaderType = params.downloaderType;
  return kInitReady;
}
