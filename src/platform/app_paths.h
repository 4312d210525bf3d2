#pragma once

#include <QString>

namespace qb::AppPaths {

// GenericDataLocation + "/Quillbay", for example ~/.local/share/Quillbay (not created here).
QString dataFolder();
// The user's Downloads folder, else "Downloads" in the home folder.
QString downloadsFolder();
// Where files uploaded by phones land: "Quillbay" in the given Downloads folder. The server writes
// there and the phone page opens it, so both must build the path here.
QString receivedFilesFolder(const QString& downloads = downloadsFolder());

} // namespace qb::AppPaths
