#pragma once

#include <QScrollArea>
#include <QString>

namespace qb {

// A built-in document, formatted and scrollable.
class MarkdownView : public QScrollArea
{
    Q_OBJECT

public:
    explicit MarkdownView(const QString& markdown, QWidget* parent = nullptr);

    void scrollToTop();
};

} // namespace qb
