#include "tests/launcher/launcher_test_support.h"

#include "platform/process_launch.h"
#include "tests/support/test_support.h"

namespace launchertest {

void IsolateFolders() {
  // Outside Windows the events are locks in $XDG_RUNTIME_DIR and the
  // temporary folder is $TMPDIR; under Wine both belong to this run's
  // prefix already.
  static testsupport::TempDir folder;
  static const bool set = plat::SetEnvironmentValue("XDG_RUNTIME_DIR", folder.Path()) &&
                          plat::SetEnvironmentValue("TMPDIR", folder.Path());
  (void)set;
}

}  // namespace launchertest
