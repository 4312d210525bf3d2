#pragma once

#include <QObject>

#include <functional>

class QAction;
class QMenuBar;

namespace qb {

class MailHelper;

// The menu bar of the main window. Most items post a notification on the command bus; the two
// support items call the mail helper; Settings, About and Quit call the application.
class QuillbayCommands : public QObject
{
    Q_OBJECT

public:
    struct Actions
    {
        std::function<void()> openSettings;
        std::function<void()> openAbout;
        std::function<void()> quit;
    };

    static constexpr const char* feedbackSubject = "Quillbay Feedback";
    static constexpr const char* feedbackBody = "Name:\nPhone Model:\nMessage:\n";

    // `mail` may be null (no support items act then).
    QuillbayCommands(QMenuBar& menuBar, MailHelper* mail, Actions actions,
                     QObject* parent = nullptr);

    // The item with this text, searched through every menu (for tests and the toolbar).
    QAction* action(const QString& text) const;

private:
    QMenuBar& m_menuBar;
};

} // namespace qb
