#pragma once

#include <QString>
#include <QTextDocument>

namespace qb::test {

// The text a tooltip shows: Qt renders it as rich text when it looks like markup.
inline QString tooltipText(const QString& toolTip)
{
    if (!Qt::mightBeRichText(toolTip))
        return toolTip;
    QTextDocument document;
    document.setHtml(toolTip);
    return document.toPlainText();
}

} // namespace qb::test
