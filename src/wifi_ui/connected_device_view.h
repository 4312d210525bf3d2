#pragma once

#include "wifi/wifi_peer.h"
#include "wifi_ui/phone_activity.h"
#include "wifi_ui/wifi_registries.h"

#include <QPointer>
#include <QWidget>

class QLabel;

namespace qb {

class PhonePageListView;
class PhonePageModel;
class SendToPhoneSheet;

// The page of a paired phone: who it is, "Send to Phone", "Open Folder", the reconnect and forget
// actions, and one list of the files waiting for the phone followed by its history. Everything
// listed comes from the shared registries and is redrawn when they change; nothing is polled.
class ConnectedDeviceView : public QWidget
{
    Q_OBJECT

public:
    enum class PeerAction { Reconnect, Forget };

    ConnectedDeviceView(const WiFiRegistries& registries, const WiFiPeer& peer,
                        QWidget* parent = nullptr);
    ~ConnectedDeviceView() override;

    WiFiPeer peer() const { return m_peer; }
    // The same phone with a changed name, or at the address it moved to; the page of another
    // phone is built anew by its owner.
    void setPeer(const WiFiPeer& peer);

    PhonePageModel* model() const { return m_model; }
    SendToPhoneSheet* sendSheet() const;

    // "Send to Phone": asks for files, then queues them.
    void sendFilesToPhone();
    // Queues `paths` for this phone and opens the sheet for exactly the files just queued.
    void queueFiles(const QStringList& paths);
    // "Open Folder": the folder phones' uploads land in, when it exists.
    void openReceiveFolder();
    void applyPeerAction(PeerAction action);
    void cancelPending(const QUuid& id);
    void openFile(const TransferEntry& entry);
    void revealInFileManager(const TransferEntry& entry);
    void copyPath(const TransferEntry& entry);

    // The folder "Open Folder" opens: the one the server saves uploads in.
    static QString receiveFolder();

private:
    QWidget* buildHeader();
    void confirmReconnect();
    void showEntryMenu(const QModelIndex& index, const QPoint& globalPos);
    std::optional<TransferEntry> entryAt(const QModelIndex& index) const;

    WiFiRegistries m_registries;
    WiFiPeer m_peer;
    PhonePageModel* m_model = nullptr;
    PhonePageListView* m_list = nullptr;
    QLabel* m_name = nullptr;
    QLabel* m_host = nullptr;
    QPointer<SendToPhoneSheet> m_sendSheet;
};

} // namespace qb
