#pragma once

#include <QMainWindow>

#include <functional>

namespace qb {

class ContentView;
class QuillbayCommands;
class QuillbayApp;

// The main window: the menu bar, the toolbar (the phone pane's items, then the transfer-queue
// button) and the content view.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int minimumWidth = 900;
    static constexpr int minimumHeight = 600;

    MainWindow(QuillbayApp& app, std::function<void()> openSettings,
               std::function<void()> openAbout, QWidget* parent = nullptr);

    ContentView* content() const { return m_content; }
    QuillbayCommands* commands() const { return m_commands; }

signals:
    // The Quit command, Decline in the consent dialog, or the window closed.
    void quitRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    ContentView* m_content;
    QuillbayCommands* m_commands;
};

} // namespace qb
