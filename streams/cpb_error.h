// The one exception type of the vestrel streams: a _CPB_ERROR value thrown
// by value. Callers of the streams catch it; it never crosses a subsystem
// boundary.
#pragma once

namespace vestrel {

enum _CPB_ERROR {
  CPB_ERROR_SHORT_READ = 1,        // a load read fewer bytes than the file holds
  CPB_ERROR_FILE_NOT_FOUND = 2,    // a load cannot open its file
  CPB_ERROR_NOT_ENOUGH_MEMORY = 3  // memory cannot be allocated
};

}  // namespace vestrel
