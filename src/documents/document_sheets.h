#pragma once

#include <QDialog>

namespace qb {

class MarkdownView;

// A built-in document in a window-modal sheet of fixed size: a header with the document's title
// and "Done", then the document. Each opening starts at the top of the document.
class DocumentSheet : public QDialog
{
    Q_OBJECT

public:
    DocumentSheet(const QString& title, const QString& symbol, const QString& markdown, QSize size,
                  QWidget* parent = nullptr);

    MarkdownView* view() const { return m_view; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    MarkdownView* m_view;
};

// The help guide, with "Report Crash" and "Send Feedback" below it; the window that opens the
// sheet connects them to its mail helper. The sheet stays open while mail is composed.
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

// A thin horizontal line between the parts of a sheet or tab.
QWidget* horizontalDivider(QWidget* parent);

} // namespace qb
