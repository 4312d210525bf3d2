#pragma once

#include "wifi_ui/keyed_list_model.h"
#include "wifi_ui/phone_activity.h"
#include "wifi_ui/wifi_registries.h"

#include <QUuid>

#include <optional>
#include <utility>
#include <variant>

namespace qb {

// One row of a paired phone's page: the two section headers, the files waiting for the phone,
// the divider after them, the history entries, or the empty state.
struct PhonePageRow
{
    enum class Kind { PendingHeader, PendingFile, SectionDivider, ActivityHeader, Activity, Empty };

    Kind kind = Kind::Empty;
    int count = 0;    // headers
    QString peerName; // the empty state
    std::variant<std::monostate, PendingOutgoingFile, TransferEntry> item;

    const PendingOutgoingFile& pending() const { return std::get<PendingOutgoingFile>(item); }
    const TransferEntry& entry() const { return std::get<TransferEntry>(item); }
    QUuid id() const;
    std::pair<int, QUuid> key() const { return {int(kind), id()}; }
    bool operator==(const PhonePageRow&) const = default;
};

// The rows of one phone's page, derived from the shared registries and redone whenever one of
// their lists changes. The page's selected history entry lives here too (rows never own it).
class PhonePageModel : public KeyedListModel<PhonePageRow>
{
public:
    enum Role { SelectedRole = Qt::UserRole + 1, LastInSectionRole };

    PhonePageModel(const WiFiRegistries& registries, const QString& host, const QString& peerName,
                   QObject* parent = nullptr);

    QString host() const { return m_host; }
    // Applies registry changes not yet applied (they are otherwise applied once per turn of the
    // event loop).
    void applyChanges();
    void setPeerName(const QString& name);
    // The phone answers at another address now: its files waiting there and that address's
    // history.
    void setHost(const QString& host);

    QList<PendingOutgoingFile> pendingFiles() const { return m_pending; }
    QList<TransferEntry> activity() const { return m_activity; }

    std::optional<QUuid> selectedFileID() const { return m_selectedFileID; }
    void setSelectedFileID(const std::optional<QUuid>& id);

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    void scheduleApply();
    void reloadPending();
    void reloadActivity();
    void rebuild();
    int rowOfEntry(const QUuid& id) const;

    WiFiRegistries m_registries;
    QString m_host;
    QString m_peerName;
    QList<PendingOutgoingFile> m_pending;
    QList<TransferEntry> m_activity;
    std::optional<QUuid> m_selectedFileID;
    bool m_pendingStale = false;
    bool m_activityStale = false;
    bool m_applyScheduled = false;
};

} // namespace qb
