#include "transfer_ui/transfer_row_controls.h"

#include "ui_common/symbol_icon.h"

#include <QToolButton>

namespace qb {

TransferRowControls::TransferRowControls(QWidget* parent) : QWidget(parent)
{
    setAutoFillBackground(false);
    for (int i = 0; i < 2; ++i) {
        auto* button = new QToolButton(this);
        button->setAutoRaise(true);
        button->setFixedSize(buttonSize, buttonSize);
        button->setIconSize(QSize(16, 16));
        button->setFocusPolicy(Qt::StrongFocus);
        connect(button, &QToolButton::clicked, this, [this, i] {
            if (i < m_actions.size())
                emit triggered(m_jobId, m_actions.at(i));
        });
        m_buttons.append(button);
    }
}

void TransferRowControls::setJob(const QUuid& jobId, const QList<RowAction>& actions)
{
    m_jobId = jobId;
    m_actions = actions.mid(0, m_buttons.size());
    const int width = this->width();
    const int count = int(m_actions.size());
    for (int i = 0; i < m_buttons.size(); ++i) {
        QToolButton* button = m_buttons.at(i);
        if (i >= count) {
            button->hide();
            continue;
        }
        const RowAction action = m_actions.at(i);
        const QColor color = palette().color(action == RowAction::Cancel ? QPalette::PlaceholderText
                                                                         : QPalette::ButtonText);
        const QPixmap image = tintedSymbol(actionSymbol(action), 16, color, devicePixelRatioF());
        button->setIcon(image);
        button->setToolButtonStyle(image.isNull() ? Qt::ToolButtonTextOnly
                                                  : Qt::ToolButtonIconOnly);
        button->setText(actionName(action));
        button->setAccessibleName(actionName(action));
        button->move(width - (count - i) * buttonSize - (count - 1 - i) * spacing, 0);
        button->show();
    }
}

void TransferRowControls::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    setJob(m_jobId, m_actions);
}

} // namespace qb
