#pragma once

#include <QString>

#include <functional>

class QThreadPool;

namespace qb {

class RequestRouter;
class WiFiServerBackend;

// How long a connection may take to send its request head, counted from its acceptance. A phone
// sends its head at once; this leaves room for a few lost packets on poor Wi-Fi.
inline constexpr int kRequestHeadTimeoutMs = 10'000;
// A request body must bring at least kMinBodyBytesPerWindow in every window of
// kBodyRateWindowMs: under a kilobyte a second, far below the slowest Wi-Fi that still works,
// and the window is long enough for a stall while a phone moves between access points.
inline constexpr int kBodyRateWindowMs = 20'000;
inline constexpr qint64 kMinBodyBytesPerWindow = 16 * 1024;

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
    // A connection that has not sent its whole request head this long after it was accepted is
    // closed, however steadily it trickles.
    int headTimeoutMs = kRequestHeadTimeoutMs;
    // A connection whose request body brings fewer than `minBodyBytesPerWindow` bytes in a window
    // of `bodyRateWindowMs` is closed.
    int bodyRateWindowMs = kBodyRateWindowMs;
    qint64 minBodyBytesPerWindow = kMinBodyBytesPerWindow;
    // After the reply, how long to read on (and discard) before closing, so that the phone
    // reads the reply instead of a reset.
    int drainTimeoutMs = 2'000;
};

} // namespace qb
