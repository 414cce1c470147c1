// libFuzzer target: the manifest "version.ini" as the engine reads it at
// start-up. It is usable (0) or not (3); a usable one names one to three
// servers, none with a trailing "/" left from a single one.
#include "engine/manifest.h"
#include "tests/fuzz/fuzz_file.h"
#include "tests/fuzz/fuzz_target.h"

PATCHER_FUZZ_TARGET(manifest) {
  if (size < 1) return 0;
  static FuzzFile file("version.ini");
  const std::string& path = file.Holding(data + 1, size - 1);
  ManifestValues values;
  // The first byte stands for the calendar time that drives the draw.
  const uint32_t result = ReadManifest(path, "VERSION", "DOWNLOAD", data[0], &values);
  FUZZ_CHECK(result == 0 || result == 3);
  if (result != 0) return 0;
  FUZZ_CHECK(!values.downloadUrls.empty() && values.downloadUrls.size() <= 3);
  FUZZ_CHECK(values.latest != 0 || values.minimal != 0 || values.serverPatcher != 0);
  return 0;
}
