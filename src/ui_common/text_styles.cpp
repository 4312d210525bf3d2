#include "ui_common/text_styles.h"

#include "ui_common/symbol_icon.h"

#include <QApplication>
#include <QWidget>

namespace qb {

QFont textStyleFont(TextStyle style, const QFont& body)
{
    // Proportions of a 13-point body: title 22, title 2 17, title 3 15, headline 13 semibold,
    // subheadline 11, callout 12, caption 10.
    double scale = 1.0;
    QFont::Weight weight = QFont::Normal;
    switch (style) {
    case TextStyle::Title:
        scale = 22.0 / 13.0;
        break;
    case TextStyle::Title2:
        scale = 17.0 / 13.0;
        break;
    case TextStyle::Title3:
        scale = 15.0 / 13.0;
        break;
    case TextStyle::Headline:
        weight = QFont::DemiBold;
        break;
    case TextStyle::Subheadline:
        scale = 11.0 / 13.0;
        break;
    case TextStyle::Body:
        break;
    case TextStyle::Callout:
        scale = 12.0 / 13.0;
        break;
    case TextStyle::Caption:
        scale = 10.0 / 13.0;
        break;
    }
    QFont font = body;
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * scale);
    else if (font.pixelSize() > 0)
        font.setPixelSize(qMax(1, qRound(font.pixelSize() * scale)));
    font.setWeight(weight);
    return font;
}

QFont fixedSizeFont(qreal pixels, QFont base)
{
    base.setPixelSize(qMax(1, qRound(pixels)));
    return base;
}

void setTextStyle(QWidget* widget, TextStyle style, bool bold)
{
    QFont font = textStyleFont(style, QApplication::font());
    if (bold)
        font.setBold(true);
    widget->setFont(font);
}

void setSecondaryColour(QWidget* widget)
{
    widget->setForegroundRole(QPalette::PlaceholderText);
}

void applyDestructiveColour(QPalette& palette)
{
    // Styles differ in which role they draw a control's text with; all of them get the colour.
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        for (const QPalette::ColorRole role :
             {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
            palette.setColor(group, role, destructiveColour());
    }
}

void setDestructiveColour(QWidget* widget)
{
    QPalette palette = widget->palette();
    applyDestructiveColour(palette);
    widget->setPalette(palette);
}

} // namespace qb
