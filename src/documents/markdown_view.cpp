#include "documents/markdown_view.h"

#include <QLabel>
#include <QScrollBar>

namespace qb {

MarkdownView::MarkdownView(const QString& markdown, QWidget* parent) : QScrollArea(parent)
{
    auto* label = new QLabel(markdown);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    setWidget(label);
    setWidgetResizable(true);
}

void MarkdownView::scrollToTop()
{
    verticalScrollBar()->setValue(0);
}

} // namespace qb
