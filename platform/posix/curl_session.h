// libcurl's process-wide start-up, shared by the HTTP stand-ins.
#pragma once

namespace plat {

// Runs curl_global_init once per process; true when it succeeded.
bool StartCurl();

}  // namespace plat
