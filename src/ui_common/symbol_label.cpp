#include "ui_common/symbol_label.h"

#include "ui_common/symbol_icon.h"

#include <QPainter>

namespace qb {

SymbolLabel::SymbolLabel(QString symbol, int size, QPalette::ColorRole role, QWidget* parent)
    : QWidget(parent), m_symbol(std::move(symbol)), m_size(size), m_role(role)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QPixmap SymbolLabel::pixmap() const
{
    return tintedSymbol(m_symbol, m_size, palette().color(QPalette::Active, m_role),
                        devicePixelRatioF());
}

void SymbolLabel::paintEvent(QPaintEvent*)
{
    const QPixmap image = pixmap();
    if (image.isNull())
        return;
    QPainter painter(this);
    const QRect box(QPoint(0, 0), QSize(m_size, m_size));
    painter.drawPixmap(box.translated(rect().center() - box.center()), image);
}

} // namespace qb
