#pragma once

#include <QStringList>

namespace qb::test {

// Every fdatasync and fsync of this process since the last clear, in order, as
// "fdatasync <path>" or "fsync <path>" with the path the descriptor had then.
QStringList syncCalls();
void clearSyncCalls();

// From holdSyncs() on, every fdatasync and fsync of a path containing `pathPart` waits until
// releaseSyncs(), or 10 s at most, so that a test can look at what happens meanwhile;
// heldSyncs() counts those waiting now.
void holdSyncs(const QString& pathPart);
void releaseSyncs();
int heldSyncs();
// Every fdatasync and fsync of a path containing `pathPart` fails with `error` (without flushing)
// until `error` is set back to 0.
void failSyncsWith(int error, const QString& pathPart = QString());
// Every fdatasync and fsync of a path containing `pathPart` takes `ms` longer, as on a slow disk
// (0: as long as the disk takes).
void delaySyncs(int ms, const QString& pathPart = QString());
// Every rename (rename, renameat2) whose target contains `pathPart` fails with `error` (without
// renaming) until `error` is set back to 0, or only the next `times` of them when `times` >= 0.
void failRenamesWith(int error, const QString& pathPart = QString(), int times = -1);
// The same for the no-replace rename (renameat2) alone, and for link: what a file system that
// lacks them answers.
void failNoReplaceRenamesWith(int error, const QString& pathPart = QString());
void failLinksWith(int error, const QString& pathPart = QString());
// Every fchmod of a descriptor whose path contains `pathPart` fails with `error` (without changing
// the mode) until `error` is set back to 0: what a file system without permissions answers.
void failChmodsWith(int error, const QString& pathPart = QString());

} // namespace qb::test
