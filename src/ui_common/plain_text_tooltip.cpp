#include "ui_common/plain_text_tooltip.h"

#include <QWidget>

namespace qb {

QString plainTextToolTip(const QString& text)
{
    if (text.isEmpty())
        return {};
    return QStringLiteral("<p style='white-space:pre'>") + text.toHtmlEscaped() +
           QStringLiteral("</p>");
}

void setPlainTextToolTip(QWidget* widget, const QString& text)
{
    widget->setToolTip(plainTextToolTip(text));
    widget->setAccessibleDescription(text);
}

} // namespace qb
