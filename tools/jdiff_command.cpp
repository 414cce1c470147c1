// patchtool jdiff ORIG NEW DELTA [--inplace]: writes the JojoDiff delta
// that turns ORIG into NEW with our encoder (the counterpart of jpatch),
// and says how large it is and whether the engine can apply it in place.
#include <cstdio>
#include <cstring>
#include <string>

#include "publish/delta_encoder.h"
#include "tools/commands.h"

namespace {

int Usage() {
  fprintf(stderr, "usage: patchtool jdiff ORIG NEW DELTA [--inplace]\n");
  return 2;
}

const char* FailureText(DeltaEncodeStatus status) {
  switch (status) {
    case DeltaEncodeStatus::kOk: break;
    case DeltaEncodeStatus::kTooLarge: return "a file is too large for a delta (ship the whole file)";
    case DeltaEncodeStatus::kNotSameSize: return "--inplace needs ORIG and NEW of the same size";
    case DeltaEncodeStatus::kReadFailed: return "an input could not be read";
    case DeltaEncodeStatus::kWriteFailed: return "the delta could not be written";
    case DeltaEncodeStatus::kNoMemory: return "not enough memory";
  }
  return "failed";
}

}  // namespace

int JdiffCommand(int argc, char** argv) {
  DeltaEncodeOptions options;
  std::string paths[3];
  int count = 0;
  for (int i = 0; i < argc; ++i) {
    if (strcmp(argv[i], "--inplace") == 0) {
      options.inPlace = DeltaInPlace::kRequire;
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      return Usage();
    } else if (count < 3) {
      paths[count++] = argv[i];
    } else {
      return Usage();
    }
  }
  if (count != 3) return Usage();
  const DeltaEncodeResult result = CDeltaEncoder(options).EncodeFiles(paths[0], paths[1], paths[2]);
  if (result.status != DeltaEncodeStatus::kOk) {
    fprintf(stderr, "patchtool: jdiff failed: %s (status %u, error %u)\n", FailureText(result.status),
            static_cast<unsigned>(result.status), result.systemError);
    return 1;
  }
  printf("%s: %llu bytes, %s\n", paths[2].c_str(), static_cast<unsigned long long>(result.deltaSize),
         result.inPlace ? "in-place capable (EQL and MOD only)" : "not in-place capable");
  return 0;
}
