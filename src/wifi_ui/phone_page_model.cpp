#include "wifi_ui/phone_page_model.h"

#include "wifi/pending_outgoing_files_registry.h"
#include "wifi/received_files_registry.h"
#include "wifi/sent_files_registry.h"
#include "wifi_ui/wifi_formatters.h"

#include <QCoreApplication>

namespace qb {

QUuid PhonePageRow::id() const
{
    if (const auto* file = std::get_if<PendingOutgoingFile>(&item))
        return file->id;
    if (const auto* entry = std::get_if<TransferEntry>(&item))
        return entry->id();
    return {};
}

PhonePageModel::PhonePageModel(const WiFiRegistries& registries, const QString& host,
                               const QString& peerName, QObject* parent)
    : KeyedListModel(parent), m_registries(registries), m_host(host), m_peerName(peerName)
{
    // Each list is derived again only when its own registry changes (progress reports of a
    // download must not re-sort the whole history), and a burst of changes in one turn of the
    // event loop (a thousand files queued at once) is applied once.
    connect(m_registries.pending, &PendingOutgoingFilesRegistry::filesChanged, this, [this] {
        m_pendingStale = true;
        scheduleApply();
    });
    auto activityChanged = [this] {
        m_activityStale = true;
        scheduleApply();
    };
    connect(m_registries.received, &ReceivedFilesRegistry::filesChanged, this, activityChanged);
    connect(m_registries.sent, &SentFilesRegistry::filesChanged, this, activityChanged);
    reloadPending();
    reloadActivity();
    rebuild();
}

void PhonePageModel::scheduleApply()
{
    if (m_applyScheduled)
        return;
    m_applyScheduled = true;
    QMetaObject::invokeMethod(this, &PhonePageModel::applyChanges, Qt::QueuedConnection);
}

void PhonePageModel::applyChanges()
{
    m_applyScheduled = false;
    if (!m_pendingStale && !m_activityStale)
        return;
    if (std::exchange(m_pendingStale, false))
        reloadPending();
    if (std::exchange(m_activityStale, false))
        reloadActivity();
    rebuild();
}

void PhonePageModel::setPeerName(const QString& name)
{
    if (name == m_peerName)
        return;
    m_peerName = name;
    rebuild();
}

void PhonePageModel::setHost(const QString& host)
{
    if (host == m_host)
        return;
    m_host = host;
    m_pendingStale = false;
    m_activityStale = false;
    reloadPending();
    reloadActivity();
    rebuild();
}

void PhonePageModel::reloadPending()
{
    m_pending = pendingFilesFor(m_host, m_registries.pending->files());
}

void PhonePageModel::reloadActivity()
{
    m_activity = activityFor(m_host, m_registries.received->files(), m_registries.sent->files());
}

void PhonePageModel::rebuild()
{
    using Kind = PhonePageRow::Kind;
    QList<PhonePageRow> rows;
    rows.reserve(m_pending.size() + m_activity.size() + 3);
    if (!m_pending.isEmpty()) {
        rows.append({Kind::PendingHeader, int(m_pending.size()), {}, {}});
        for (const PendingOutgoingFile& file : m_pending)
            rows.append({Kind::PendingFile, 0, {}, file});
        rows.append({Kind::SectionDivider, 0, {}, {}});
    }
    if (!m_activity.isEmpty()) {
        rows.append({Kind::ActivityHeader, int(m_activity.size()), {}, {}});
        for (const TransferEntry& entry : m_activity)
            rows.append({Kind::Activity, 0, {}, entry});
    } else {
        rows.append({Kind::Empty, 0, m_peerName, {}});
    }
    replaceRows(std::move(rows));
}

int PhonePageModel::rowOfEntry(const QUuid& id) const
{
    for (int i = 0; i < rowCount(); ++i) {
        if (row(i).kind == PhonePageRow::Kind::Activity && row(i).id() == id)
            return i;
    }
    return -1;
}

void PhonePageModel::setSelectedFileID(const std::optional<QUuid>& id)
{
    if (id == m_selectedFileID)
        return;
    const std::optional<QUuid> previous = std::exchange(m_selectedFileID, id);
    for (const auto& changed : {previous, id}) {
        const int at = changed ? rowOfEntry(*changed) : -1;
        if (at >= 0)
            emit dataChanged(index(at), index(at), {SelectedRole});
    }
}

QVariant PhonePageModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const PhonePageRow& item = row(index.row());
    using Kind = PhonePageRow::Kind;
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        switch (item.kind) {
        case Kind::PendingHeader:
            return QStringLiteral("Waiting for phone");
        case Kind::PendingFile:
            return singleLine(item.pending().url.fileName());
        case Kind::ActivityHeader:
            return QStringLiteral("Activity");
        case Kind::Activity:
            return singleLine(item.entry().url().fileName());
        case Kind::Empty:
            return QStringLiteral("No transfers yet");
        case Kind::SectionDivider:
            return {};
        }
        return {};
    case Qt::AccessibleDescriptionRole:
        // What the row shows besides the name, and what the keyboard does with a waiting file.
        if (item.kind == Kind::Activity)
            return activityDetails(item.entry()).join(QStringLiteral(" \u2022 "));
        if (item.kind == Kind::PendingFile)
            return waitingForPhoneText() + QStringLiteral(". ") +
                   QCoreApplication::translate("PhonePage", "Press Delete to cancel.");
        return {};
    case SelectedRole:
        return item.kind == Kind::Activity && m_selectedFileID == item.id();
    case LastInSectionRole: {
        const int next = index.row() + 1;
        return next >= rowCount() || row(next).kind != item.kind;
    }
    default:
        return {};
    }
}

} // namespace qb
