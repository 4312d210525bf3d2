#pragma once

#include "ui_common/observable_flag.h"
#include "wifi_ui/wifi_registries.h"

#include <QPointer>
#include <QWidget>

class QDialog;
class QPropertyAnimation;
class QSplitter;

namespace qb {

class AndroidBrowserPane;
class AppState;
class ComputerBrowserPane;
class ConsentView;
class DeviceSidebarView;
class MailHelper;
class PreferenceStore;

// The main window's content: the device sidebar beside the detail area (the phone pane, and the
// computer pane while showComputerPane is set). Opens the window's sheets on the command bus's
// notifications, the transfer queue also when transfers start, and keeps the consent dialog in
// front until the terms are accepted.
class ContentView : public QWidget
{
    Q_OBJECT

public:
    enum class Sheet { TransferQueue, Help, Terms, Privacy };

    ContentView(AppState& state, PreferenceStore& preferences, MailHelper* mail,
                const WiFiRegistries& wifi, QWidget* parent = nullptr);
    ~ContentView() override;

    ObservableFlag& showComputerPane() { return m_showComputerPane; }
    DeviceSidebarView* sidebar() const { return m_sidebar; }
    AndroidBrowserPane* phonePane() const { return m_phonePane; }
    ComputerBrowserPane* computerPane() const { return m_computerPane; }

    // Opens a sheet over the main window, or raises it when it is already open.
    void open(Sheet sheet);
    // The open sheet of that kind, null when closed.
    QDialog* sheet(Sheet sheet) const;
    // Shows the consent dialog when the terms have not been accepted; null otherwise.
    ConsentView* presentConsentIfNeeded();
    ConsentView* consentView() const { return m_consent; }

signals:
    void quitRequested();

private:
    QDialog* makeSheet(Sheet sheet, QWidget* over);
    void openOver(Sheet sheet, QWidget* over);
    void activeJobCountChanged();
    void animateComputerPane(bool shown);

    AppState& m_state;
    PreferenceStore& m_preferences;
    MailHelper* m_mail;
    ObservableFlag m_showComputerPane{true};
    QSplitter* m_split = nullptr;
    QSplitter* m_detail = nullptr;
    DeviceSidebarView* m_sidebar = nullptr;
    AndroidBrowserPane* m_phonePane = nullptr;
    ComputerBrowserPane* m_computerPane = nullptr;
    QPropertyAnimation* m_paneAnimation = nullptr;
    QPointer<QDialog> m_sheets[4];
    QPointer<ConsentView> m_consent;
    qsizetype m_activeJobs = 0;
};

} // namespace qb
