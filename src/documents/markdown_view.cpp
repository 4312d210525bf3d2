#include "documents/markdown_view.h"

#include "documents/inline_markdown.h"
#include "documents/markdown_parser.h"
#include "ui_common/text_styles.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollBar>
#include <QVBoxLayout>

namespace qb {

namespace {

QLabel* textLabel(QWidget* parent, const QString& text, Qt::TextFormat format)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(format);
    label->setText(text);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse);
    label->setOpenExternalLinks(true);
    return label;
}

// Headings show their text as written: no emphasis inside them.
QLabel* heading(QWidget* parent, const QString& text, TextStyle style, bool bold, int top,
                int bottom)
{
    QLabel* label = textLabel(parent, text, Qt::PlainText);
    setTextStyle(label, style, bold);
    label->setContentsMargins(0, top, 0, bottom);
    return label;
}

QLabel* inlineText(QWidget* parent, const QString& text)
{
    return textLabel(parent, inlineRichText(text), Qt::RichText);
}

// A list item: the marker in a column of fixed width, the text wrapping beside it.
QWidget* itemRow(QWidget* parent, const QString& marker, int markerWidth, Qt::Alignment alignment,
                 const QString& text)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 1, 0, 1);
    layout->setSpacing(8);
    QLabel* markerLabel = textLabel(row, marker, Qt::PlainText);
    markerLabel->setWordWrap(false);
    markerLabel->setFixedWidth(markerWidth);
    markerLabel->setAlignment(alignment | Qt::AlignTop);
    setSecondaryColour(markerLabel);
    layout->addWidget(markerLabel, 0, Qt::AlignTop);
    layout->addWidget(inlineText(row, text), 1);
    return row;
}

} // namespace

MarkdownView::MarkdownView(const QString& markdown, QWidget* parent)
    : QScrollArea(parent), m_column(new QWidget(this))
{
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setWidgetResizable(true);
    auto* layout = new QVBoxLayout(m_column);
    layout->setContentsMargins(20, 12, 20, 12);
    layout->setSpacing(0);
    for (const MarkdownBlock& block : parseMarkdown(markdown))
        addBlock(block);
    layout->addStretch(1);
    setWidget(m_column);
}

void MarkdownView::addBlock(const MarkdownBlock& block)
{
    auto* layout = static_cast<QVBoxLayout*>(m_column->layout());
    using Kind = MarkdownBlock::Kind;
    switch (block.kind) {
    case Kind::H1:
        layout->addWidget(heading(m_column, block.text, TextStyle::Title, true, 8, 4));
        break;
    case Kind::H2:
        layout->addWidget(heading(m_column, block.text, TextStyle::Headline, false, 14, 2));
        break;
    case Kind::H3: {
        QLabel* label = heading(m_column, block.text, TextStyle::Subheadline, true, 10, 1);
        setSecondaryColour(label);
        layout->addWidget(label);
        break;
    }
    case Kind::Bullet:
        layout->addWidget(
            itemRow(m_column, QStringLiteral("\u2022"), 12, Qt::AlignHCenter, block.text));
        break;
    case Kind::Numbered:
        layout->addWidget(itemRow(m_column, block.number + u'.', 20, Qt::AlignRight, block.text));
        break;
    case Kind::Paragraph: {
        QLabel* label = inlineText(m_column, block.text);
        label->setContentsMargins(0, 2, 0, 2);
        layout->addWidget(label);
        break;
    }
    case Kind::Rule: {
        auto* line = new QFrame(m_column);
        line->setFrameShape(QFrame::HLine);
        line->setFrameShadow(QFrame::Sunken);
        line->setFixedHeight(17); // the line with 8 above and below
        layout->addWidget(line);
        break;
    }
    case Kind::Empty:
        layout->addSpacing(6);
        break;
    }
}

void MarkdownView::scrollToTop()
{
    verticalScrollBar()->setValue(0);
}

} // namespace qb
