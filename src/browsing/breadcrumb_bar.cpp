#include "browsing/breadcrumb_bar.h"

#include "browsing/folder_item_model.h"
#include "documents/symbol_icon.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QScrollBar>
#include <QToolButton>

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
            auto* chevron = new QLabel(m_strip);
            chevron->setPixmap(symbolIcon(QStringLiteral("chevron.right")).pixmap(10, 10));
            chevron->setEnabled(false);
            m_layout->addWidget(chevron);
        }
        auto* button = new QToolButton(m_strip);
        // A button text is not markup, but "&" would mark a shortcut.
        QString text = FolderItemModel::displayName(crumbs.at(i).name);
        button->setText(text.replace(QLatin1Char('&'), QStringLiteral("&&")));
        button->setAccessibleName(FolderItemModel::displayName(crumbs.at(i).name));
        button->setAutoRaise(true);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        const bool last = i == crumbs.size() - 1;
        button->setEnabled(!last);
        if (!last) {
            QPalette palette = button->palette();
            palette.setColor(QPalette::ButtonText, palette.color(QPalette::Link));
            button->setPalette(palette);
            button->setCursor(Qt::PointingHandCursor);
        } else {
            // The folder shown reads as plain text, not as a greyed-out button.
            QPalette palette = button->palette();
            palette.setColor(QPalette::Disabled, QPalette::ButtonText,
                             palette.color(QPalette::Active, QPalette::WindowText));
            button->setPalette(palette);
        }
        connect(button, &QToolButton::clicked, this, [this, i] { emit tapped(i); });
        m_layout->addWidget(button);
        m_buttons.append(button);
    }
    m_layout->addStretch();
}

} // namespace qb
