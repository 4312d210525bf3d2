#include "app/content_view.h"

#include "app/app_state.h"
#include "app/consent_view.h"
#include "app/mail_helper.h"
#include "app/quillbay_commands.h"
#include "browsing/android_browser_pane.h"
#include "browsing/computer_browser_pane.h"
#include "browsing/device_sidebar_view.h"
#include "core/device/device_list_view_model.h"
#include "core/transfer/transfer_queue_view_model.h"
#include "documents/document_sheets.h"
#include "transfer_ui/transfer_queue_sheet.h"
#include "ui_common/command_bus.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QPropertyAnimation>
#include <QSplitter>

namespace qb {

namespace {

constexpr int computerPaneMinWidth = 220;
constexpr int computerPaneMaxWidth = 400;
constexpr int sidebarMinWidth = 200;

} // namespace

ContentView::ContentView(AppState& state, PreferenceStore& preferences, MailHelper* mail,
                         const WiFiRegistries& wifi, QWidget* parent)
    : QWidget(parent), m_state(state), m_preferences(preferences), m_mail(mail)
{
    PaneContext context;
    context.devices = state.deviceListViewModel();
    context.transfers = state.transferQueueViewModel();
    context.preferences = &preferences;
    context.wifi = wifi;
    context.showComputerPane = &m_showComputerPane;

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_split = new QSplitter(Qt::Horizontal, this);
    m_split->setChildrenCollapsible(false);
    m_sidebar = new DeviceSidebarView(context, m_split);
    m_sidebar->setMinimumWidth(sidebarMinWidth);
    m_detail = new QSplitter(Qt::Horizontal, m_split);
    m_detail->setChildrenCollapsible(false);
    m_phonePane = new AndroidBrowserPane(context, m_detail);
    m_computerPane = new ComputerBrowserPane(context, m_detail);
    m_computerPane->setMinimumWidth(computerPaneMinWidth);
    m_computerPane->setMaximumWidth(computerPaneMaxWidth);
    m_split->addWidget(m_sidebar);
    m_split->addWidget(m_detail);
    m_split->setStretchFactor(0, 0);
    m_split->setStretchFactor(1, 1);
    m_detail->setStretchFactor(0, 1);
    m_detail->setStretchFactor(1, 0);
    m_split->setSizes({240, 900});
    layout->addWidget(m_split);

    m_paneAnimation = new QPropertyAnimation(m_computerPane, "maximumWidth", this);
    m_paneAnimation->setDuration(200);
    m_paneAnimation->setEasingCurve(QEasingCurve::InOutQuad);
    connect(m_paneAnimation, &QPropertyAnimation::finished, this, [this] {
        if (!m_showComputerPane.value())
            m_computerPane->hide();
        else
            m_computerPane->setMinimumWidth(computerPaneMinWidth);
    });
    connect(&m_showComputerPane, &ObservableFlag::changed, this, &ContentView::animateComputerPane);

    CommandBus& bus = CommandBus::shared();
    bus.observe(Notifications::showTransferQueue, this,
                [this](const QVariant&) { open(Sheet::TransferQueue); });
    bus.observe(Notifications::showHelp, this, [this](const QVariant&) { open(Sheet::Help); });
    bus.observe(Notifications::showTerms, this, [this](const QVariant&) { open(Sheet::Terms); });
    bus.observe(Notifications::showPrivacy, this,
                [this](const QVariant&) { open(Sheet::Privacy); });
    bus.observe(Notifications::refreshDevices, this, [this](const QVariant&) {
        if (DeviceListViewModel* devices = m_state.deviceListViewModel())
            devices->refreshDevices();
    });

    if (TransferQueueViewModel* transfers = state.transferQueueViewModel()) {
        m_activeJobs = transfers->activeJobs().size();
        connect(transfers, &TransferQueueViewModel::jobsChanged, this,
                &ContentView::activeJobCountChanged);
    }
}

ContentView::~ContentView() = default;

void ContentView::activeJobCountChanged()
{
    const qsizetype count = m_state.transferQueueViewModel()->activeJobs().size();
    const bool started = m_activeJobs == 0 && count > 0;
    m_activeJobs = count;
    if (started)
        open(Sheet::TransferQueue);
}

void ContentView::animateComputerPane(bool shown)
{
    m_paneAnimation->stop();
    if (shown) {
        m_computerPane->setMinimumWidth(0);
        m_computerPane->setMaximumWidth(0);
        m_computerPane->show();
        m_paneAnimation->setStartValue(0);
        m_paneAnimation->setEndValue(computerPaneMaxWidth);
    } else {
        m_computerPane->setMinimumWidth(0);
        m_paneAnimation->setStartValue(m_computerPane->width());
        m_paneAnimation->setEndValue(0);
    }
    m_paneAnimation->start();
}

void ContentView::open(Sheet sheet)
{
    // A sheet asked for while the consent dialog is up stacks over the dialog.
    openOver(sheet, m_consent ? static_cast<QWidget*>(m_consent.data()) : window());
}

void ContentView::openOver(Sheet sheet, QWidget* over)
{
    QPointer<QDialog>& slot = m_sheets[int(sheet)];
    if (slot) {
        slot->raise();
        slot->activateWindow();
        return;
    }
    QDialog* dialog = makeSheet(sheet, over);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    slot = dialog;
    // Closed means gone for the window, even before the dialog's deferred deletion: a request
    // right after closing opens a new sheet instead of raising the hidden one.
    connect(dialog, &QDialog::finished, this, [this, sheet, dialog] {
        if (m_sheets[int(sheet)] == dialog)
            m_sheets[int(sheet)] = nullptr;
    });
    dialog->open();
}

QDialog* ContentView::makeSheet(Sheet sheet, QWidget* over)
{
    switch (sheet) {
    case Sheet::TransferQueue:
        return new TransferQueueSheet(*m_state.transferQueueViewModel(), over);
    case Sheet::Help: {
        auto* help = new HelpSheet(over);
        connect(help, &HelpSheet::reportCrashRequested, this, [this] {
            if (m_mail)
                m_mail->sendCrashReport();
        });
        connect(help, &HelpSheet::sendFeedbackRequested, this, [this] {
            if (m_mail)
                m_mail->composeMail(MailHelper::supportAddress(),
                                    QString::fromUtf8(QuillbayCommands::feedbackSubject),
                                    QString::fromUtf8(QuillbayCommands::feedbackBody));
        });
        return help;
    }
    case Sheet::Terms:
        return new TermsSheet(over);
    case Sheet::Privacy:
        return new PrivacySheet(over);
    }
    return nullptr;
}

QDialog* ContentView::sheet(Sheet sheet) const
{
    return m_sheets[int(sheet)];
}

ConsentView* ContentView::presentConsentIfNeeded()
{
    if (ConsentView::hasAccepted(m_preferences))
        return nullptr;
    if (m_consent)
        return m_consent;
    m_consent = new ConsentView(m_preferences, window());
    m_consent->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_consent, &ConsentView::declined, this, &ContentView::quitRequested);
    connect(m_consent, &ConsentView::showTermsRequested, this,
            [this] { openOver(Sheet::Terms, m_consent); });
    connect(m_consent, &ConsentView::showPrivacyRequested, this,
            [this] { openOver(Sheet::Privacy, m_consent); });
    m_consent->open();
    return m_consent;
}

} // namespace qb
