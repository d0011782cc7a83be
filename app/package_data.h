// The two marked records of the installer image. The packing tool finds them by their markers in
// the built Setup.exe and fills them; the program reads them at start-up. Both are non-const so
// that the optimiser cannot fold reads of what it would take for their initial values.
#pragma once

#include "archive/package_block.h"
#include "archive/settings_record.h"

namespace app {

// Caption empty and archive area zero in the template image.
extern archive::PackageBlock InstallerPackage;
// Library-package job and the default archive key in the template image.
extern archive::SettingsRecord InstallerSettings;

}  // namespace app
