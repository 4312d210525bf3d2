#pragma once

#include "wifi/pending_outgoing_file.h"
#include "wifi_ui/keyed_list_model.h"

#include <QHash>
#include <QObject>
#include <QSet>

namespace qb {

class PendingOutgoingFilesRegistry;

struct TrackedFileRow
{
    PendingOutgoingFile file;

    QUuid key() const { return file.id; }
    bool operator==(const TrackedFileRow&) const = default;
};

// The rows of the send sheet: the tracked files still in the registry, in its order.
class TrackedFilesModel : public KeyedListModel<TrackedFileRow>
{
public:
    using KeyedListModel::KeyedListModel;
    using KeyedListModel::replaceRows;

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
};

// What the send-to-phone sheet shows, for the files queued by one "Send to Phone": follows them
// through the shared registry until none is left, and remembers how each one left, so that the
// end is worded for what happened rather than always as a success.
class SendToPhoneSheetModel : public QObject
{
    Q_OBJECT

public:
    enum class State { Waiting, Sending, Done };

    SendToPhoneSheetModel(PendingOutgoingFilesRegistry& registry, const QSet<QUuid>& trackedIDs,
                          QObject* parent = nullptr);

    QSet<QUuid> trackedIDs() const { return m_trackedIDs; }
    int totalCount() const { return m_totalCount; }
    // The tracked files still in the registry, in its order, whatever their status.
    QList<PendingOutgoingFile> trackedFiles() const;
    bool isSending() const;
    State state() const;
    // Files that left the registry delivered, and those that left otherwise (failed or cancelled
    // elsewhere); a file still listed counts in neither.
    int deliveredCount() const { return int(m_delivered.size()); }
    QSet<QUuid> undeliveredIDs() const { return m_undelivered; }

    QString headerTitle(const QString& peerName) const;
    QString titleText(const QString& peerName) const;
    QString subtitleText(const QString& peerName) const;
    // The subtitle as rich text: fixed words emphasised, the peer's name escaped.
    QString subtitleHtml(const QString& peerName) const;
    QString buttonText() const;

    // The one button: cancels every tracked file still listed, then asks to close the sheet.
    void footerAction();

    TrackedFilesModel* filesModel() { return &m_rows; }

signals:
    void changed();
    void dismissRequested();

private:
    void refresh();
    QString filesDelivered(int count) const;

    PendingOutgoingFilesRegistry& m_registry;
    QSet<QUuid> m_trackedIDs;
    int m_totalCount = 0;
    bool m_refreshBlocked = false;
    QHash<QUuid, SendStatus> m_lastSeen;
    QSet<QUuid> m_delivered;
    QSet<QUuid> m_undelivered;
    TrackedFilesModel m_rows;
};

} // namespace qb
