#pragma once

#include <QStringList>

namespace qb::test::SyncSpy {

// Every fdatasync and fsync of this process since the last clear(), in order, as
// "fdatasync <path>" or "fsync <path>" with the path the descriptor had at that moment.
QStringList calls();
void clear();

} // namespace qb::test::SyncSpy
