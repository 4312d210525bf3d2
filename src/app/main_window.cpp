#include "app/main_window.h"

#include "app/app_state.h"
#include "app/consent_view.h"
#include "app/content_view.h"
#include "app/quillbay_app.h"
#include "app/quillbay_commands.h"
#include "browsing/android_browser_pane.h"
#include "browsing/phone_pane_toolbar.h"
#include "transfer_ui/transfer_queue_button.h"

#include <QCloseEvent>
#include <QMenuBar>
#include <QTimer>
#include <QToolBar>

namespace qb {

MainWindow::MainWindow(QuillbayApp& app, std::function<void()> openSettings,
                       std::function<void()> openAbout, QWidget* parent)
    : QMainWindow(parent),
      m_content(new ContentView(app.appState(), app.preferences(), &app.mailHelper(),
                                WiFiRegistries::shared(), this))
{
    setWindowTitle(QStringLiteral("Quillbay"));
    setMinimumSize(minimumWidth, minimumHeight);
    resize(1200, 760);
    setCentralWidget(m_content);

    QuillbayCommands::Actions actions;
    actions.openSettings = std::move(openSettings);
    actions.openAbout = std::move(openAbout);
    actions.quit = [this] {
        emit quitRequested();
    };
    m_commands = new QuillbayCommands(*menuBar(), &app.mailHelper(), std::move(actions), this);

    auto* toolbar = addToolBar(tr("Toolbar"));
    toolbar->setObjectName(QStringLiteral("mainToolbar"));
    toolbar->setMovable(false);
    toolbar->setAccessibleName(tr("Toolbar"));
    // The pane's items, with the transfer-queue button among them after the view picker.
    AndroidBrowserPane* pane = m_content->phonePane();
    if (TransferQueueViewModel* transfers = app.appState().transferQueueViewModel())
        pane->toolbar()->setTransferQueueButton(new TransferQueueButton(*transfers));
    toolbar->addWidget(pane->toolbarItems());

    connect(m_content, &ContentView::quitRequested, this, &MainWindow::quitRequested);
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    // The consent dialog comes in front once the window itself is on screen.
    QTimer::singleShot(0, m_content, [content = m_content] { content->presentConsentIfNeeded(); });
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    QMainWindow::closeEvent(event);
    // There is only one main window and nothing brings a closed one back: closing it quits.
    if (event->isAccepted())
        emit quitRequested();
}

} // namespace qb
