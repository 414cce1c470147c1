// patchtool jpatch ORIG DELTA OUT [--mode memory|inplace|file]: rebuilds a
// new file from an original and a JojoDiff delta with one of the engine's
// three decoders, so a delta can be checked before it ships.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "apply/delta/delta_decoder.h"
#include "platform/file_system.h"
#include "platform/path.h"
#include "streams/file_map_stream.h"
#include "streams/virtual_memory_file_stream.h"
#include "streams/virtual_memory_stream.h"
#include "tools/commands.h"

namespace {

// The write buffer of the memory mode; the engine's is larger, but any size
// gives the same output.
constexpr uint32_t kOutputBufferSize = 8u * 1024 * 1024;

const char* DecodeFailureText(uint32_t result) {
  switch (result) {
    case kDeltaSeekFailed: return "the original could not be read";
    case kDeltaMalformed: return "the delta is malformed or cut short";
    case kDeltaOutOfRange: return "the delta does not fit the original (it reaches outside it)";
    case kDeltaOutputFailed: return "the output could not be written";
    default: return "decoding failed";
  }
}

const char* StreamErrorText(vestrel::_CPB_ERROR error) {
  switch (error) {
    case vestrel::CPB_ERROR_SHORT_READ: return "it could not be read to its end";
    case vestrel::CPB_ERROR_FILE_NOT_FOUND: return "it cannot be opened";
    case vestrel::CPB_ERROR_NOT_ENOUGH_MEMORY: return "not enough memory to hold it";
  }
  return "unknown stream error";
}

// A failed decode leaves no half-made output behind, unless the output is
// the original itself.
int DecodeFailed(uint32_t result, const std::string& orig, const std::string& out) {
  fprintf(stderr, "patchtool: jpatch failed: %s (result %u)\n", DecodeFailureText(result), result);
  if (plat::ToNativePath(orig) != plat::ToNativePath(out)) plat::RemoveFile(out);
  return 1;
}

bool Load(vestrel::CVirtualMemoryStream& stream, const std::string& path) {
  try {
    stream.LoadFromFile(path);
    return true;
  } catch (vestrel::_CPB_ERROR error) {
    fprintf(stderr, "patchtool: cannot load %s: %s (error %d)\n", path.c_str(), StreamErrorText(error),
            static_cast<int>(error));
    return false;
  }
}

int RunMemory(const std::string& orig, const std::string& delta, const std::string& out) {
  vestrel::CVirtualMemoryStream original;
  vestrel::CVirtualMemoryStream patch;
  vestrel::CVirtualMemoryFileStream output;
  // Mapped, the original costs no read and no copy. An OUT that names the
  // original would be cut while it is read, so that one is loaded whole,
  // as is an empty original, which cannot be mapped.
  std::error_code ec;
  const bool sameFile = plat::ToNativePath(orig) == plat::ToNativePath(out) ||
                        std::filesystem::equivalent(plat::ToNativePath(orig), plat::ToNativePath(out), ec);
  std::unique_ptr<vestrel::TFileMapStream> mapped;
  if (!sameFile) mapped = std::make_unique<vestrel::TFileMapStream>(orig, plat::MapAccess::kRead);
  if (mapped && !mapped->IsOpen()) mapped.reset();
  if ((!mapped && !Load(original, orig)) || !Load(patch, delta)) return 1;
  try {
    output.SetBufferSize(kOutputBufferSize);
  } catch (vestrel::_CPB_ERROR) {
    fprintf(stderr, "patchtool: no memory for the output buffer\n");
    return 1;
  }
  // The original is wholly in memory now, so OUT may name the same file.
  output.SetFileName(out);
  uint64_t written = 0;
  const uint32_t result =
      mapped ? CDeltaDecoder().DecodeMemory(mapped->GetMemory(), mapped->GetSize(), patch.GetMemory(),
                                            patch.GetDataSize(), output, &written)
             : CDeltaDecoder().DecodeMemory(original, patch, output, &written);
  if (result != kDeltaOk) return DecodeFailed(result, orig, out);
  printf("%s: %llu bytes\n", out.c_str(), static_cast<unsigned long long>(written));
  return 0;
}

bool TruncateTo(const std::string& path, uint32_t size) {
  plat::File file;
  return file.Open(path, plat::File::kReadWrite, plat::File::kShareNone, plat::File::kOpenExisting) &&
         file.Seek(size, 0) && file.Truncate();
}

int RunInPlace(const std::string& orig, const std::string& delta, const std::string& out) {
  vestrel::CVirtualMemoryStream patch;
  if (!Load(patch, delta)) return 1;
  const CDeltaDecoder decoder;
  if (!decoder.CanPatchInPlace(patch)) {
    fprintf(stderr, "patchtool: the delta inserts, deletes, moves back or is malformed; it cannot be applied in place\n");
    return 1;
  }
  if (orig != out && !plat::CopyOneFile(orig, out, false)) {
    fprintf(stderr, "patchtool: cannot copy %s to %s (error %u)\n", orig.c_str(), out.c_str(), plat::LastError());
    return 1;
  }
  // The copy keeps a read-only attribute, which would refuse the mapping.
  plat::SetAttributes(out, plat::kAttrNormal);
  uint64_t fileSize = 0;
  if (!plat::FileSize(out, &fileSize)) {
    fprintf(stderr, "patchtool: cannot read the size of %s (error %u)\n", out.c_str(), plat::LastError());
    return 1;
  }
  uint32_t outputSize = 0;
  uint32_t result = kDeltaOk;
  {
    vestrel::TFileMapStream target(out);
    // An empty file cannot be mapped; only an empty delta fits it, and the
    // decoder sees an empty file then.
    if (!target.IsOpen() && fileSize != 0) {
      fprintf(stderr, "patchtool: cannot map %s (error %u)\n", out.c_str(), plat::LastError());
      return 1;
    }
    result = decoder.DecodeInPlace(target, patch, &outputSize);
  }
  if (result != kDeltaOk) return DecodeFailed(result, orig, out);
  // A new file shorter than the original ends where the delta ends.
  if (outputSize < fileSize && !TruncateTo(out, outputSize)) {
    fprintf(stderr, "patchtool: cannot cut %s to %u bytes (error %u)\n", out.c_str(), outputSize, plat::LastError());
    return 1;
  }
  printf("%s: %u bytes\n", out.c_str(), outputSize);
  return 0;
}

struct FileCloser {
  void operator()(FILE* file) const { fclose(file); }
};
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

int RunFile(const std::string& orig, const std::string& delta, const std::string& out) {
  UniqueFile original(fopen(plat::ToNativePath(orig).c_str(), "rb"));
  if (!original) {
    fprintf(stderr, "patchtool: cannot open %s\n", orig.c_str());
    return 1;
  }
  UniqueFile patch(fopen(plat::ToNativePath(delta).c_str(), "rb"));
  if (!patch) {
    fprintf(stderr, "patchtool: cannot open %s\n", delta.c_str());
    return 1;
  }
  if (plat::ToNativePath(orig) == plat::ToNativePath(out)) {
    fprintf(stderr, "patchtool: the file mode cannot write over its original\n");
    return 1;
  }
  UniqueFile output(fopen(plat::ToNativePath(out).c_str(), "wb"));
  if (!output) {
    fprintf(stderr, "patchtool: cannot create %s\n", out.c_str());
    return 1;
  }
  const uint32_t result = CDeltaDecoder().DecodeFile(original.get(), patch.get(), output.get());
  const bool closed = fclose(output.release()) == 0;
  if (result != kDeltaOk) return DecodeFailed(result, orig, out);
  if (!closed) return DecodeFailed(kDeltaOutputFailed, orig, out);
  uint64_t size = 0;
  plat::FileSize(out, &size);
  printf("%s: %llu bytes\n", out.c_str(), static_cast<unsigned long long>(size));
  return 0;
}

int Usage() {
  fprintf(stderr, "usage: patchtool jpatch ORIG DELTA OUT [--mode memory|inplace|file]\n");
  return 2;
}

}  // namespace

int JpatchCommand(int argc, char** argv) {
  std::string mode = "memory";
  std::string paths[3];
  int count = 0;
  for (int i = 0; i < argc; ++i) {
    if (strcmp(argv[i], "--mode") == 0) {
      if (i + 1 >= argc) return Usage();
      mode = argv[++i];
    } else if (strncmp(argv[i], "--mode=", 7) == 0) {
      mode = argv[i] + 7;
    } else if (count < 3) {
      paths[count++] = argv[i];
    } else {
      return Usage();
    }
  }
  if (count != 3) return Usage();
  if (mode == "memory") return RunMemory(paths[0], paths[1], paths[2]);
  if (mode == "inplace") return RunInPlace(paths[0], paths[1], paths[2]);
  if (mode == "file") return RunFile(paths[0], paths[1], paths[2]);
  fprintf(stderr, "patchtool: unknown mode '%s' (memory, inplace or file)\n", mode.c_str());
  return Usage();
}
