#include "wifi/connection_counter.h"

namespace qb {

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
    // connections per host takes its places from itself before a phone's own long upload; within
    // a host, and between hosts holding as many, the request waiting longest goes.
    quint64 best = 0;
    int bestShare = 0;
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it) {
        if (!it->receiving || it->evicted)
            continue;
        const int share = m_receivingPerHost.value(it->host);
        if (best == 0 || share > bestShare || (share == bestShare && it.key() < best)) {
            best = it.key();
            bestShare = share;
        }
    }
    return best;
}

} // namespace qb
