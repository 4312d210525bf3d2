#include "wifi/connection_counter.h"

#include <chrono>

namespace qb {

namespace {

// A body younger than this is judged as if it had been arriving this long, so that one just
// begun is not taken for the slowest before its first bytes could come.
constexpr qint64 kMinBodySpanMs = 1000;

} // namespace

qint64 ConnectionCounter::steadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

ConnectionCounter::Admission ConnectionCounter::admit(const QString& host, ConnectionHub* hub)
{
    QMutexLocker lock(&m_mutex);
    const bool local = isLocalMachine(host);
    if (!local && m_perHost.value(host) >= kMaxPerHost)
        return {};
    Admission admission;
    if (m_open >= m_max) {
        if (m_entries.size() - m_open >= maxEvictedPending())
            return {};
        const quint64 victim = evictionCandidate();
        if (victim == 0)
            return {};
        Entry& entry = m_entries[victim];
        uncount(entry);
        entry.evicted = true;
        admission.evictOn = entry.hub;
        admission.evictSerial = victim;
    }
    admission.admitted = true;
    admission.serial = m_nextSerial++;
    m_entries.insert(admission.serial, Entry{host, hub});
    ++m_open;
    if (!local)
        ++m_perHost[host];
    ++m_receivingPerHost[host];
    return admission;
}

void ConnectionCounter::headReceived(quint64 serial)
{
    QMutexLocker lock(&m_mutex);
    const auto found = m_entries.find(serial);
    if (found == m_entries.end() || !found->receiving || found->headIn || found->evicted)
        return;
    found->headIn = true;
    found->bodyStartMs = m_clock();
}

void ConnectionCounter::bodyReceived(quint64 serial, qint64 bytes)
{
    QMutexLocker lock(&m_mutex);
    const auto found = m_entries.find(serial);
    if (found != m_entries.end())
        found->bodyBytes = bytes;
}

void ConnectionCounter::requestReceived(quint64 serial)
{
    QMutexLocker lock(&m_mutex);
    const auto found = m_entries.find(serial);
    if (found == m_entries.end() || !found->receiving || found->evicted)
        return;
    found->receiving = false;
    if (--m_receivingPerHost[found->host] <= 0)
        m_receivingPerHost.remove(found->host);
}

void ConnectionCounter::release(quint64 serial)
{
    QMutexLocker lock(&m_mutex);
    const auto found = m_entries.find(serial);
    if (found == m_entries.end())
        return;
    if (!found->evicted)
        uncount(*found);
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
    if (entry.receiving) {
        const auto found = m_receivingPerHost.find(entry.host);
        if (found != m_receivingPerHost.end() && --*found <= 0)
            m_receivingPerHost.erase(found);
    }
}

quint64 ConnectionCounter::evictionCandidate() const
{
    // The host holding the most unfinished requests loses first, so that a flood from many
    // connections per host takes its places from itself, and not a phone's connection that has
    // just been accepted and whose head is on its way. Between hosts holding as many, a connection
    // whose head has not arrived goes first (the one waiting longest): a phone sends its head at
    // once, and its running upload must not pay for silent connections. A body goes only when no
    // such head is left, the one bringing bytes slowest first.
    struct Rank
    {
        int share = 0;
        bool head = false;
        double rate = 0; // bytes per millisecond, bodies only
    };
    const auto before = [](const Rank& a, quint64 aSerial, const Rank& b, quint64 bSerial) {
        if (a.share != b.share)
            return a.share > b.share;
        if (a.head != b.head)
            return a.head;
        if (!a.head && a.rate != b.rate)
            return a.rate < b.rate;
        return aSerial < bSerial;
    };
    const qint64 now = m_clock();
    quint64 best = 0;
    Rank bestRank;
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it) {
        if (!it->receiving || it->evicted)
            continue;
        Rank rank{m_receivingPerHost.value(it->host), !it->headIn, 0};
        if (it->headIn)
            rank.rate =
                double(it->bodyBytes) / double(std::max(now - it->bodyStartMs, kMinBodySpanMs));
        if (best == 0 || before(rank, it.key(), bestRank, best)) {
            best = it.key();
            bestRank = rank;
        }
    }
    return best;
}

} // namespace qb
