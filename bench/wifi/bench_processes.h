#pragma once

#include <QString>

namespace qb::bench {

// The server under test, in a process of its own so that its peak memory can be read:
// prints "PORT <port> ID <id>" once listening; `offer` is queued for 127.0.0.2.
int runServer(const QString& folder, const QString& offer);

// The upload reference: accepts one connection, writes the body after the request head to
// `target` in 256 KiB blocks, flushes it to the disk, answers, and exits. Prints "PORT <port>".
int runSink(const QString& target);

} // namespace qb::bench
