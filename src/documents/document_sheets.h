#pragma once

#include <QDialog>

namespace qb {

class MarkdownView;

// A built-in document in a window-modal sheet with a "Done" button. Each opening starts at the
// top of the document.
class DocumentSheet : public QDialog
{
    Q_OBJECT

public:
    DocumentSheet(const QString& title, const QString& markdown, QSize size,
                  QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;
    QWidget* footer() const { return m_footer; }

private:
    MarkdownView* m_view;
    QWidget* m_footer;
};

// The help guide, with "Report Crash" and "Send Feedback" in its footer.
class HelpSheet : public DocumentSheet
{
    Q_OBJECT

public:
    explicit HelpSheet(QWidget* parent = nullptr);

signals:
    void reportCrashRequested();
    void sendFeedbackRequested();
};

class TermsSheet : public DocumentSheet
{
    Q_OBJECT

public:
    explicit TermsSheet(QWidget* parent = nullptr);
};

class PrivacySheet : public DocumentSheet
{
    Q_OBJECT

public:
    explicit PrivacySheet(QWidget* parent = nullptr);
};

} // namespace qb
