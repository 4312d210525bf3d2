#pragma once

#include <QtGlobal>

namespace qb {

// The process's limits on open file descriptors.
struct OpenFileLimits
{
    qint64 soft = 0;
    qint64 hard = 0;
};

OpenFileLimits openFileLimits();

// Raises the soft limit to the hard one, as far as the kernel allows, and logs both. A desktop
// session's soft limit (often 1,024) is far below what a server with many phones needs, while its
// hard limit is not. Called once at start, before any thread that opens files.
OpenFileLimits raiseOpenFileLimit();

// Gives the soft limit back its value from before the raise, in a child about to run another
// program: programs that size tables by the limit, or still use select(), expect the usual one.
// Safe between fork and exec.
void restoreStartingOpenFileLimit();

} // namespace qb
