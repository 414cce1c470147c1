#include "download/http_inet.h"

#include "download/http_socket.h"
#include "download/http_url.h"
#include "download/local_file.h"
#include "engine/patch_log.h"
#include "platform/http_inet.h"
#include "platform/path.h"

namespace {

// Writes the lines for a request that did not open; true when it did.
bool OpenInetRequest(plat::InetRequest& request, const std::string& url) {
  std::string host;
  std::string path;
  const int32_t port = SplitHttpUrl(url, &host, &path);
  const bool secure = port == 443 || IsHttpsUrl(url);
  plat::InetOpenReport report;
  const bool opened = request.Open(host, static_cast<uint16_t>(port), path, secure, &report);
  SetLastHttpStatus(static_cast<int32_t>(report.statusCode));
  if (report.firstSendFailed) {
    LogWrite(kLogError, "Failed to HttpSendRequest : ErrorCode [%d]", static_cast<int>(report.firstSendError));
  }
  switch (report.failedAt) {
    case plat::InetStep::kInternetOpen:
      LogWrite(kLogError, "Failed to InternetOpen : ErrorCode [%d]", static_cast<int>(report.error));
      break;
    case plat::InetStep::kConnect:
      LogWrite(kLogError, "Failed to InternetConnect : ErrorCode [%d]", static_cast<int>(report.error));
      break;
    case plat::InetStep::kSendSecure:
      LogWrite(kLogError, "Failed to HttpSendRequest Security : ErrorCode [%d]", static_cast<int>(report.error));
      break;
    case plat::InetStep::kQueryStatus:
      LogWrite(kLogError, "Failed to HttpQueryInfo : ErrorCode [%d]", static_cast<int>(report.error));
      break;
    default:
      break;  // the other steps end without a line
  }
  return opened;
}

}  // namespace

int32_t GetFileByInet(const std::string& localPath, const std::string& url, int32_t resume,
                      const TransferProgress& progress) {
  LogWrite(kLogDetail, "Tried to getting file from http server by INET : URL [%s], LocalFile [%s], Continue [%s]",
           url.c_str(), localPath.c_str(), resume != 0 ? "YES" : "NO");
  SetLastHttpStatus(0);
  {
    plat::File existing;
    if (existing.Open(localPath, plat::File::kReadWrite, plat::File::kShareRead, plat::File::kOpenExisting)) {
      uint64_t size = 0;
      existing.Size(&size);
      existing.Close();
      if (size > 0) {
        LogWrite(kLogError, "Failed to APIOpenFile file : %s", localPath.c_str());
        return kFetchOpenFailed;
      }
      LogWrite(kLogDetail, "APIFileLength returns file-size 0");
    }
  }

  plat::File file;
  if (!FileCreate(localPath, &file)) {
    LogWrite(kLogError, "Failed to FileCreate file : %s", localPath.c_str());
    return kFetchOpenFailed;
  }
  plat::InetRequest request;
  request.SetLimits(SocketReceiveTimeoutMs(), &ShouldAbortTransfer);
  if (!OpenInetRequest(request, url)) return kFetchOpenFailed;
  const int32_t contentLength = request.ContentLength();

  if (LacksRoomFor(contentLength, plat::FolderOf(localPath))) return DiskFullResult(file);
  file.Seek(0, 0);

  int64_t done = 0;
  bool readFailed = false;
  const int32_t written = WriteBody([&](char* buffer, int32_t size) { return request.Read(buffer, size); }, file,
                                    localPath, progress, contentLength, &done, &readFailed);
  if (written != kFetchOk) return written;
  // A body cut short of its announced length is a broken connection.
  if (readFailed || (contentLength >= 0 && done < contentLength)) {
    file.Close();
    LogWrite(kLogError, "Disconnected INET connection");
    return kFetchDisconnected;
  }
  const int32_t closed = CloseWrittenFile(file, localPath);
  if (closed != kFetchOk) return closed;
  if (progress) progress(ClampToInt32(done), contentLength);
  LogWrite(kLogDetail, "Successed to download");
  return kFetchOk;
}
