#include "ui_common/empty_state_view.h"

#include "ui_common/symbol_icon.h"
#include "ui_common/text_styles.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace qb {

EmptyStateView::EmptyStateView(const QString& symbol, const QString& title, const QString& message,
                               const QString& actionLabel, std::function<void()> action,
                               QWidget* parent)
    : QWidget(parent), m_image(new QLabel(this)), m_title(new QLabel(this)),
      m_message(new QLabel(this)), m_button(new QPushButton(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(12);
    layout->addStretch(1);
    for (QLabel* label : {m_image, m_title, m_message}) {
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignCenter);
        layout->addWidget(label);
    }
    m_title->setWordWrap(true);
    m_message->setWordWrap(true);
    setTextStyle(m_title, TextStyle::Headline);
    setTextStyle(m_message, TextStyle::Callout);
    setSecondaryColour(m_message);
    // The button sits 4 further down than the spacing; its holder hides with it.
    m_buttonHolder = new QWidget(this);
    auto* holder = new QVBoxLayout(m_buttonHolder);
    holder->setContentsMargins(0, 4, 0, 0);
    holder->addWidget(m_button, 0, Qt::AlignHCenter);
    layout->addWidget(m_buttonHolder);
    layout->addStretch(1);
    connect(m_button, &QPushButton::clicked, this, [this] {
        if (m_action)
            m_action();
    });
    setContent(symbol, title, message, actionLabel, std::move(action));
}

void EmptyStateView::setContent(const QString& symbol, const QString& title, const QString& message,
                                const QString& actionLabel, std::function<void()> action)
{
    const QIcon icon = symbolIcon(symbol);
    m_image->setPixmap(icon.isNull() ? QPixmap() : icon.pixmap(40, 40, QIcon::Disabled));
    m_image->setVisible(!icon.isNull());
    m_title->setText(title);
    m_message->setText(message);
    m_action = std::move(action);
    const bool withButton = !actionLabel.isEmpty() && m_action;
    m_button->setText(actionLabel);
    m_buttonHolder->setVisible(withButton);
    setAccessibleName(title);
}

QString EmptyStateView::title() const
{
    return m_title->text();
}

QString EmptyStateView::message() const
{
    return m_message->text();
}

QPushButton* EmptyStateView::button() const
{
    return m_buttonHolder->isHidden() ? nullptr : m_button;
}

} // namespace qb
