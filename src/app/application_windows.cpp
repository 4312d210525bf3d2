#include "app/application_windows.h"

#include "app/about_window.h"
#include "app/app_state.h"
#include "app/appearance.h"
#include "app/main_window.h"
#include "app/quillbay_app.h"
#include "app/settings_window.h"

#include <QApplication>

namespace qb {

namespace {

template <typename Window> Window* bringForward(Window* window)
{
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

} // namespace

ApplicationWindows::ApplicationWindows(QuillbayApp& app, QObject* parent)
    : QObject(parent), m_app(app), m_main(new MainWindow(
                                       app, [this] { openSettings(); }, [this] { openAbout(); }))
{
    if (AppSettings* settings = app.appState().settings())
        followAppearance(*settings);
    connect(m_main, &MainWindow::quitRequested, this, [this] {
        if (m_settings)
            m_settings->close();
        if (m_about)
            m_about->close();
        emit quitRequested();
    });
}

ApplicationWindows::~ApplicationWindows()
{
    delete m_about;
    delete m_settings;
    delete m_main;
}

void ApplicationWindows::showMain()
{
    m_main->setWindowState(m_main->windowState() & ~Qt::WindowMinimized);
    bringForward(m_main);
    // A sheet open on it (the consent question) stays in front of it.
    if (QWidget* sheet = QApplication::activeModalWidget(); sheet && sheet->window() != m_main)
        bringForward(sheet);
}

SettingsWindow* ApplicationWindows::openSettings()
{
    if (!m_settings) {
        m_settings = new SettingsWindow(m_app.preferences(), *m_app.appState().settings());
        m_settings->setAttribute(Qt::WA_DeleteOnClose);
    }
    return bringForward(m_settings.data());
}

AboutWindow* ApplicationWindows::openAbout()
{
    if (!m_about) {
        m_about = new AboutWindow;
        m_about->setAttribute(Qt::WA_DeleteOnClose);
    }
    return bringForward(m_about.data());
}

} // namespace qb
