// libFuzzer target: the patch list reader on one "version.list". Whatever
// the bytes, it gives 0, 10 or 21, and a list it accepts is consistent:
// one file sequence and two cabinet CRCs per section, the accepted count
// adding up, every name safe and none protected.
#include "engine/patch_list.h"
#include "tests/fuzz/fuzz_file.h"
#include "tests/fuzz/fuzz_target.h"

PATCHER_FUZZ_TARGET(patch_list) {
  static FuzzFile file("version.list");
  const std::string& path = file.Holding(data, size);
  PatchList list;
  ExpectedCrcMap expected;
  const uint32_t result = ReadPatchListFile(path, 7, list, expected);
  FUZZ_CHECK(result == 0 || result == kListUnreadable || result == kListBadSystemVersion);
  if (result != 0) return 0;
  FUZZ_CHECK(list.dwPatchSystemVersion == 2);
  FUZZ_CHECK(list.sectionFiles.size() == list.dwSectionNum && list.diffCabCrcs.size() == list.dwSectionNum &&
             list.normalCabCrcs.size() == list.dwSectionNum);
  size_t accepted = 0;
  for (const std::vector<PatchFileInfo>& files : list.sectionFiles) {
    for (const PatchFileInfo& file : files) {
      FUZZ_CHECK(IsSafeRelativePath(file.name) && !IsProtectedFile(file.name));
      FUZZ_CHECK(expected.count(LowerFileName(file.name)) == 1);
    }
    accepted += files.size();
  }
  FUZZ_CHECK(accepted == list.acceptedFiles);
  return 0;
}
