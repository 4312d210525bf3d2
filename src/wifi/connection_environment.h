#pragma once

#include <QString>

#include <functional>

class QThreadPool;

namespace qb {

class RequestRouter;
class WiFiServerBackend;

// What every connection of one server shares; it outlives them all.
struct ConnectionEnvironment
{
    WiFiServerBackend* backend = nullptr;
    RequestRouter* router = nullptr;
    // Uploads go to its "Quillbay" folder; asked at each upload.
    std::function<QString()> downloadsFolder;
    // Where a received file is flushed and named: off the connection threads, whose other phones
    // would otherwise wait for the disk. Null: on the connection's own thread.
    QThreadPool* commits = nullptr;
    // A connection that receives nothing and sends nothing for this long is closed.
    int idleTimeoutMs = 30'000;
    // After the reply, how long to read on (and discard) before closing, so that the phone
    // reads the reply instead of a reset.
    int drainTimeoutMs = 2'000;
};

} // namespace qb
