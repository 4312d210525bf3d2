#pragma once

#include <QScrollArea>
#include <QString>

namespace qb {

struct MarkdownBlock;

// A built-in document, formatted and scrollable: one block per line of its Markdown, laid out
// once when the view is built.
class MarkdownView : public QScrollArea
{
    Q_OBJECT

public:
    explicit MarkdownView(const QString& markdown, QWidget* parent = nullptr);

    void scrollToTop();

private:
    void addBlock(const MarkdownBlock& block);
    QWidget* m_column;
};

} // namespace qb
