#pragma once

#include <QString>

namespace qb::AppVersion {

// The version and build this binary was built as ("0.1.0", "73").
QString version();
QString build();
// "Version 0.1.0 (73)".
QString versionLine();

} // namespace qb::AppVersion
