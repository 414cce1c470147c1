// Writes the embedded browser's feature-control values for this program
// (see launcher/browser_features.h).
#pragma once

namespace launcher::win32 {

// Reads the installed browser version from the machine's key and, when it
// maps to an emulation value, writes every feature value under the user's
// FeatureControl key, named after this program's file name. Returns the
// number of values written (0 for an old or unknown browser).
int WriteBrowserFeatureControl();

}  // namespace launcher::win32
