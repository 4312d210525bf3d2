#pragma once

#include "wifi/wifi_peer.h"
#include "wifi_ui/send_to_phone_sheet_model.h"

#include <QDialog>
#include <QTimer>

class QLabel;
class QListView;
class QPushButton;

namespace qb {

class ComputerToPhoneAnimation;
class FileStatusDelegate;

// The window-modal sheet that follows the files of one "Send to Phone" until the phone has them.
// Its one button cancels the files still listed and closes it; Escape does nothing, and closing
// the window by other means cancels nothing. One timer drives the animation and the rows' rate
// and time texts, and only while the sheet is shown and files are left.
class SendToPhoneSheet : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kFrameIntervalMs = 16;

    SendToPhoneSheet(PendingOutgoingFilesRegistry& registry, const WiFiPeer& peer,
                     const QSet<QUuid>& trackedIDs, QWidget* parent = nullptr);

    SendToPhoneSheetModel& model() { return m_model; }
    void setPeer(const WiFiPeer& peer);
    bool isTicking() const { return m_timer.isActive(); }

    // Texts as shown, for checks without a screen.
    QString titleShown() const;
    QString subtitleShown() const;
    QPushButton* footerButton() const { return m_button; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void refresh();
    void tick();
    void updateTimer();

    SendToPhoneSheetModel m_model;
    WiFiPeer m_peer;
    QLabel* m_headerTitle = nullptr;
    QLabel* m_host = nullptr;
    ComputerToPhoneAnimation* m_animation = nullptr;
    QLabel* m_title = nullptr;
    QLabel* m_subtitle = nullptr;
    QListView* m_files = nullptr;
    FileStatusDelegate* m_delegate = nullptr;
    QLabel* m_doneIcon = nullptr;
    QPushButton* m_button = nullptr;
    QTimer m_timer;
    int m_ticks = 0;
};

} // namespace qb
