#include "browsing/breadcrumb_bar.h"

#include "browsing/folder_item_model.h"
#include "ui_common/colour_contrast.h"
#include "ui_common/symbol_label.h"

#include <QHBoxLayout>
#include <QScrollBar>
#include <QToolButton>
#include <QWheelEvent>

namespace qb {

BreadcrumbBar::BreadcrumbBar(QWidget* parent) : QScrollArea(parent), m_strip(new QWidget(this))
{
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setWidgetResizable(true);
    setBackgroundRole(QPalette::Window);
    setAccessibleName(tr("Path"));
    m_layout = new QHBoxLayout(m_strip);
    m_layout->setContentsMargins(12, 6, 12, 6);
    m_layout->setSpacing(4);
    m_layout->addStretch();
    setWidget(m_strip);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(m_strip->sizeHint().height() + fontMetrics().height() + 8);
}

void BreadcrumbBar::wheelEvent(QWheelEvent* event)
{
    // The strip only scrolls sideways, so the wheel moves it sideways.
    const QPoint delta = event->angleDelta();
    const int steps = delta.x() != 0 ? delta.x() : delta.y();
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() - steps / 2);
    event->accept();
}

void BreadcrumbBar::setBreadcrumbs(const QList<FileBrowserViewModel::Breadcrumb>& crumbs)
{
    while (QLayoutItem* item = m_layout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    m_buttons.clear();
    QFont crumbFont = font();
    for (qsizetype i = 0; i < crumbs.size(); ++i) {
        if (i > 0) {
            // A faint one-colour mark, not a greyed-out one: it follows the theme.
            m_layout->addWidget(new SymbolLabel(QStringLiteral("chevron.right"), 10,
                                                QPalette::PlaceholderText, m_strip));
        }
        auto* button = new QToolButton(m_strip);
        // One line of plain text, never shortened. A button text is not markup, but "&" would
        // mark a shortcut.
        const QString name = FolderItemModel::displayName(crumbs.at(i).name);
        button->setText(QString(name).replace(QLatin1Char('&'), QStringLiteral("&&")));
        button->setAccessibleName(name);
        button->setAutoRaise(true);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        const bool last = i == crumbs.size() - 1;
        button->setEnabled(!last);
        if (!last)
            button->setCursor(Qt::PointingHandCursor);
        connect(button, &QToolButton::clicked, this, [this, i] { emit tapped(i); });
        m_layout->addWidget(button);
        m_buttons.append(button);
    }
    m_layout->addStretch();
    colourCrumbs();
}

void BreadcrumbBar::changeEvent(QEvent* event)
{
    QScrollArea::changeEvent(event);
    // The crumbs' colours are set, not inherited: a change of theme sets them anew.
    if (event->type() == QEvent::PaletteChange)
        colourCrumbs();
}

void BreadcrumbBar::colourCrumbs()
{
    const QPalette own = palette();
    const QColor link = readableOn(own.color(QPalette::Active, QPalette::Link),
                                   own.color(QPalette::Active, QPalette::Window), kTextContrast);
    for (QToolButton* button : std::as_const(m_buttons)) {
        QPalette palette = button->palette();
        if (button != m_buttons.last()) {
            palette.setColor(QPalette::ButtonText, link);
        } else {
            // The folder shown reads as plain text, not as a greyed-out button.
            palette.setColor(QPalette::Disabled, QPalette::ButtonText,
                             own.color(QPalette::Active, QPalette::WindowText));
        }
        button->setPalette(palette);
    }
}

} // namespace qb
