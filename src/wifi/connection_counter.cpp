#include "wifi/connection_counter.h"

#include "wifi/http_request_parser.h"

#include <QByteArrayView>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <sys/socket.h>

namespace qb {

namespace {

// A body younger than this is not judged yet (its first bytes may still be on their way behind
// its head), and one older is judged as if it had been arriving at least this long. Short: a
// phone sends its body right behind its head.
constexpr qint64 kMinBodySpanMs = 100;
// A connection's head may still be on its way this long after it connected: a phone sends it
// at once, and it follows the handshake within a few milliseconds.
constexpr qint64 kHeadOnItsWayMs = 100;
// Descriptors kept for the rest of the application whatever the limit, and the share of the
// limit kept besides: its threads, files, USB and windows grow with what it is asked to do.
constexpr qint64 kReservedDescriptors = 128;
constexpr qint64 kReservedShare = 8;
// Descriptors one connection may hold: its socket and one file.
constexpr qint64 kDescriptorsPerConnection = 2;

} // namespace

qint64 ConnectionCounter::steadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

ConnectionCounter::Bound ConnectionCounter::boundFor(qint64 openFileLimit, int ceiling)
{
    const qint64 reserve = kReservedDescriptors + openFileLimit / kReservedShare;
    const qint64 places =
        std::max<qint64>(2, (openFileLimit - reserve) / kDescriptorsPerConnection);
    // Most places serve; the rest let evicted connections close on their threads meanwhile.
    const int connections = int(std::clamp<qint64>(places - places / 8, 1, std::max(1, ceiling)));
    const int evicting = int(std::clamp<qint64>(places - connections, 1, connections));
    return {connections, evicting};
}

ConnectionCounter::ConnectionCounter(Bound bound, Clock clock)
    : m_bound(bound), m_clock(std::move(clock)), m_peekBuffer(kMaxRequestHeadBytes + 4)
{}

ConnectionCounter::Admission ConnectionCounter::admit(const QString& host, ConnectionHub* hub,
                                                      int fd)
{
    QMutexLocker lock(&m_mutex);
    const bool local = isLocalMachine(host);
    if (!local && m_perHost.value(host) >= kMaxPerHost)
        return {};
    Admission admission;
    if (m_open >= m_bound.connections) {
        if (int(m_entries.size()) - m_open >= m_bound.evicting) {
            admission.wait = true;
            return admission;
        }
        bool tooSoon = false;
        const quint64 victim = evictionCandidate(&tooSoon);
        admission.wait = tooSoon;
        if (victim == 0 || tooSoon)
            return admission;
        Entry& entry = m_entries[victim];
        uncount(entry);
        entry.evicted = true;
        admission.evictOn = entry.hub;
        admission.evictSerial = victim;
    }
    admission.admitted = true;
    admission.serial = m_nextSerial++;
    Entry entry{host, hub, fd};
    entry.admittedMs = m_clock();
    m_entries.emplace(admission.serial, entry);
    ++m_open;
    if (!local)
        ++m_perHost[host];
    return admission;
}

void ConnectionCounter::headReceived(quint64 serial)
{
    QMutexLocker lock(&m_mutex);
    const auto found = m_entries.find(serial);
    if (found == m_entries.end() || !found->second.receiving || found->second.headIn ||
        found->second.evicted)
        return;
    found->second.headIn = true;
    found->second.bodyStartMs = m_clock();
}

void ConnectionCounter::bodyReceived(quint64 serial, qint64 bytes)
{
    QMutexLocker lock(&m_mutex);
    const auto found = m_entries.find(serial);
    if (found != m_entries.end())
        found->second.bodyBytes = bytes;
}

void ConnectionCounter::requestReceived(quint64 serial)
{
    QMutexLocker lock(&m_mutex);
    const auto found = m_entries.find(serial);
    if (found != m_entries.end() && !found->second.evicted)
        found->second.receiving = false;
}

void ConnectionCounter::tokenChecked(quint64 serial)
{
    QMutexLocker lock(&m_mutex);
    const auto found = m_entries.find(serial);
    if (found != m_entries.end())
        m_provenHosts.insert(found->second.host);
}

void ConnectionCounter::socketClosing(quint64 serial)
{
    QMutexLocker lock(&m_mutex);
    const auto found = m_entries.find(serial);
    if (found != m_entries.end())
        found->second.fd = -1;
}

void ConnectionCounter::release(quint64 serial)
{
    QMutexLocker lock(&m_mutex);
    const auto found = m_entries.find(serial);
    if (found == m_entries.end())
        return;
    if (!found->second.evicted)
        uncount(found->second);
    m_entries.erase(found);
}

void ConnectionCounter::uncount(const Entry& entry)
{
    --m_open;
    if (!isLocalMachine(entry.host)) {
        const auto found = m_perHost.find(entry.host);
        if (found != m_perHost.end() && --*found <= 0)
            m_perHost.erase(found);
    }
}

bool ConnectionCounter::lookInto(Entry& entry, qint64 now)
{
    if (entry.fd < 0)
        return false;
    ssize_t got = -1;
    do {
        got = ::recv(entry.fd, m_peekBuffer.data(), m_peekBuffer.size(), MSG_PEEK | MSG_DONTWAIT);
    } while (got < 0 && errno == EINTR);
    if (got <= 0)
        return false;
    // What does not parse as a head from its first byte is not taken for one: its first part may
    // have been read already, and a head that is really bad is answered and closed once read.
    const HttpParseResult parsed = parseRequestHead(QByteArrayView(m_peekBuffer.data(), got));
    if (parsed.status != HttpParseResult::Status::Complete)
        return false;
    entry.headIn = true;
    entry.bodyStartMs = now;
    entry.bodyBytes = got - parsed.head.headLength;
    // A whole request waiting to be read is in, like one read.
    entry.receiving = entry.bodyBytes < parsed.head.contentLength;
    return true;
}

quint64 ConnectionCounter::evictionCandidate(bool* tooSoon)
{
    // While a connection has not delivered its request head, only such connections go, the one
    // waiting longest first, whatever its host: a phone sends its head at once, and its running
    // uploads, however many, must not pay for silent connections. A head already in the socket
    // but not yet read (its thread is busy) counts as delivered. A body goes only when no such
    // connection is left, the one bringing bytes slowest first; the bodies of a phone that proved
    // its token, last of all. The newcomer waits while the connection to go has only just
    // connected, or only just begun its body: a reconnecting flood must not take the place of a
    // phone whose head, or first bytes, are on their way.
    const qint64 now = m_clock();
    for (auto& [serial, entry] : m_entries) {
        if (!entry.receiving || entry.evicted || entry.headIn)
            continue;
        if (!lookInto(entry, now)) {
            *tooSoon = now - entry.admittedMs < kHeadOnItsWayMs;
            return serial;
        }
    }
    quint64 best = 0;
    bool bestProven = false;
    double bestRate = 0; // bytes per millisecond
    qint64 bestSpan = 0;
    for (const auto& [serial, entry] : m_entries) {
        if (!entry.receiving || entry.evicted)
            continue;
        const bool proven = m_provenHosts.contains(entry.host);
        const qint64 span = now - entry.bodyStartMs;
        const double rate = double(entry.bodyBytes) / double(std::max(span, kMinBodySpanMs));
        if (best == 0 || (proven != bestProven ? !proven : rate < bestRate)) {
            best = serial;
            bestProven = proven;
            bestRate = rate;
            bestSpan = span;
        }
    }
    *tooSoon = best != 0 && bestSpan < kMinBodySpanMs;
    return best;
}

} // namespace qb
