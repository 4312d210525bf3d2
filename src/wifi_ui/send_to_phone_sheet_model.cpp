#include "wifi_ui/send_to_phone_sheet_model.h"

#include "wifi/pending_outgoing_files_registry.h"
#include "wifi_ui/wifi_formatters.h"

namespace qb {

QVariant TrackedFilesModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const PendingOutgoingFile& file = row(index.row()).file;
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
        return singleLine(file.url.fileName()) + QStringLiteral(", ") + sendStatusText(file.status);
    return {};
}

SendToPhoneSheetModel::SendToPhoneSheetModel(PendingOutgoingFilesRegistry& registry,
                                             const QSet<QUuid>& trackedIDs, QObject* parent)
    : QObject(parent), m_registry(registry), m_trackedIDs(trackedIDs),
      m_totalCount(int(trackedIDs.size()))
{
    connect(&m_registry, &PendingOutgoingFilesRegistry::filesChanged, this,
            &SendToPhoneSheetModel::refresh);
    refresh();
}

QList<PendingOutgoingFile> SendToPhoneSheetModel::trackedFiles() const
{
    QList<PendingOutgoingFile> files;
    for (const TrackedFileRow& row : m_rows.rows())
        files << row.file;
    return files;
}

bool SendToPhoneSheetModel::isSending() const
{
    for (const TrackedFileRow& row : m_rows.rows()) {
        if (row.file.status == SendStatus::Sending || row.file.status == SendStatus::Completed)
            return true;
    }
    return false;
}

SendToPhoneSheetModel::State SendToPhoneSheetModel::state() const
{
    if (m_rows.rows().isEmpty())
        return State::Done;
    return isSending() ? State::Sending : State::Waiting;
}

void SendToPhoneSheetModel::refresh()
{
    if (m_refreshBlocked)
        return;
    QList<TrackedFileRow> rows;
    QSet<QUuid> listed;
    for (const PendingOutgoingFile& file : m_registry.files()) {
        if (!m_trackedIDs.contains(file.id))
            continue;
        rows.append({file});
        listed.insert(file.id);
        m_lastSeen.insert(file.id, file.status);
    }
    // A file that left the registry is delivered only if it was last seen completed.
    for (const QUuid& id : m_trackedIDs) {
        if (listed.contains(id) || m_delivered.contains(id) || m_undelivered.contains(id))
            continue;
        if (m_lastSeen.value(id, SendStatus::Waiting) == SendStatus::Completed)
            m_delivered.insert(id);
        else
            m_undelivered.insert(id);
    }
    m_rows.replaceRows(std::move(rows));
    emit changed();
}

QString SendToPhoneSheetModel::headerTitle(const QString& peerName) const
{
    return QStringLiteral("Send to ") + singleLine(peerName);
}

QString SendToPhoneSheetModel::filesDelivered(int count) const
{
    return QStringLiteral("%1 file%2 delivered.")
        .arg(count)
        .arg(m_totalCount == 1 ? QString() : QStringLiteral("s"));
}

QString SendToPhoneSheetModel::titleText(const QString& peerName) const
{
    switch (state()) {
    case State::Done:
        if (m_undelivered.isEmpty())
            return QStringLiteral("Sent successfully");
        return m_delivered.isEmpty() ? QStringLiteral("Sending failed")
                                     : QStringLiteral("Some files were not delivered");
    case State::Sending:
        return QStringLiteral("Sending to ") + singleLine(peerName) + QStringLiteral("\u2026");
    case State::Waiting:
        return QStringLiteral("Accept the file on your phone");
    }
    return {};
}

QString SendToPhoneSheetModel::subtitleText(const QString& peerName) const
{
    switch (state()) {
    case State::Done:
        if (m_undelivered.isEmpty())
            return filesDelivered(m_totalCount);
        return QStringLiteral("%1 of ").arg(m_delivered.size()) + filesDelivered(m_totalCount);
    case State::Sending:
        return QStringLiteral("Transferring over Wi-Fi. Keep both devices on the same network.");
    case State::Waiting:
        return QStringLiteral("Open Quillbay Companion on ") + singleLine(peerName) +
               QStringLiteral(" and tap Get next to the file in the Incoming from Mac card.");
    }
    return {};
}

QString SendToPhoneSheetModel::subtitleHtml(const QString& peerName) const
{
    if (state() != State::Waiting)
        return subtitleText(peerName).toHtmlEscaped();
    return QStringLiteral("Open Quillbay Companion on ") + singleLine(peerName).toHtmlEscaped() +
           QStringLiteral(" and tap <b>Get</b> next to the file in the <b>Incoming from Mac</b> "
                          "card.");
}

QString SendToPhoneSheetModel::buttonText() const
{
    return state() == State::Done ? QStringLiteral("Done") : QStringLiteral("Cancel");
}

void SendToPhoneSheetModel::footerAction()
{
    const QList<PendingOutgoingFile> files = trackedFiles();
    // One look at the registry afterwards, not one per cancelled file.
    m_refreshBlocked = true;
    for (const PendingOutgoingFile& file : files)
        m_registry.cancel(file.id);
    m_refreshBlocked = false;
    refresh();
    emit dismissRequested();
}

} // namespace qb
