#pragma once

#include <QString>

namespace qb::AppPaths {

// GenericDataLocation + "/Quillbay", for example ~/.local/share/Quillbay (not created here).
QString dataFolder();
// The user's Downloads folder, else "Downloads" in the home folder.
QString downloadsFolder();

} // namespace qb::AppPaths
