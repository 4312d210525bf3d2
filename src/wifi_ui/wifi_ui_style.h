#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QLinearGradient>
#include <QPixmap>
#include <QRectF>

class QPainter;

namespace qb::wifiui {

// The platform text styles the Wi-Fi views are laid out in, scaled from the application font.
enum class TextStyle { Title2, Title3, Headline, Body, Callout, Caption, Caption2 };
QFont textFont(TextStyle style, QFont::Weight weight = QFont::Normal);
// The system font at a fixed size in device-independent pixels (the views' "size 10,
// monospaced" figures).
QFont sizedFont(qreal pixels, QFont::Weight weight = QFont::Normal, bool monospaced = false);

QColor systemBlue();
QColor systemGreen();
QColor systemOrange();
QColor systemRed();
QColor systemGray();
QColor secondaryText(const QColor& text);
QColor withAlpha(QColor color, qreal alpha);

// The accent gradient: system blue to a light cyan, top-leading to bottom-trailing.
QLinearGradient accentGradient(const QRectF& rect);

// The icon of a file by its name alone: no disk access while painting.
QIcon fileIcon(const QString& fileName);

// A circle of the accent gradient with the phone symbol in white: the avatars of the pages.
void paintPhoneAvatar(QPainter& painter, const QRectF& circle, int iconSize, qreal pixelRatio);
// A disc with a white arrow: into the computer (received) or out of it (sent).
void paintDirectionBadge(QPainter& painter, const QRectF& disc, bool received,
                         const QColor& background);

// A green disc with a white tick (delivered) or a red one with a white cross (failed).
void paintStatusDisc(QPainter& painter, const QRectF& disc, bool delivered);

} // namespace qb::wifiui
