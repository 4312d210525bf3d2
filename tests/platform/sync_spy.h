#pragma once

#include <QStringList>

namespace qb::test {

// Every fdatasync and fsync of this process since the last clear, in order, as
// "fdatasync <path>" or "fsync <path>" with the path the descriptor had then.
QStringList syncCalls();
void clearSyncCalls();

} // namespace qb::test
