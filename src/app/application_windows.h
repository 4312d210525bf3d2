#pragma once

#include <QObject>
#include <QPointer>

namespace qb {

class AboutWindow;
class MainWindow;
class QuillbayApp;
class SettingsWindow;

// The application's three windows: the main window, at most one settings window and at most one
// About window; asking for an open one brings it forward.
class ApplicationWindows : public QObject
{
    Q_OBJECT

public:
    explicit ApplicationWindows(QuillbayApp& app, QObject* parent = nullptr);
    ~ApplicationWindows() override;

    MainWindow& mainWindow() const { return *m_main; }
    // Brings the main window forward, out of the dock if it was minimised.
    void showMain();
    SettingsWindow* openSettings();
    AboutWindow* openAbout();

signals:
    // Quit from the menu, Decline in the consent dialog or the main window closed: the orderly
    // quit path. The settings and About windows are closed by then.
    void quitRequested();

private:
    QuillbayApp& m_app;
    MainWindow* m_main;
    QPointer<SettingsWindow> m_settings;
    QPointer<AboutWindow> m_about;
};

} // namespace qb
