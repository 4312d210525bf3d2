#pragma once

#include <QString>

namespace qb {

// The computer's name as the user sees it: PRETTY_HOSTNAME from `machineInfoPath` (systemd's
// /etc/machine-info), else the network host name; empty when neither is set.
QString localizedHostName(const QString& machineInfoPath = QStringLiteral("/etc/machine-info"));

} // namespace qb
