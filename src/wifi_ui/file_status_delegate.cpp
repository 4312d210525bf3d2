#include "wifi_ui/file_status_delegate.h"

#include "ui_common/byte_count_format.h"
#include "ui_common/symbol_icon.h"
#include "wifi_ui/send_to_phone_sheet_model.h"
#include "wifi_ui/wifi_formatters.h"
#include "wifi_ui/wifi_ui_style.h"

#include <QPainter>

namespace qb {

using namespace wifiui;

namespace {

const PendingOutgoingFile* fileOf(const QModelIndex& index)
{
    const auto* model = dynamic_cast<const TrackedFilesModel*>(index.model());
    if (model == nullptr || !index.isValid() || index.row() >= model->rowCount())
        return nullptr;
    return &model->row(index.row()).file;
}

bool showsProgress(SendStatus status)
{
    return status == SendStatus::Sending || status == SendStatus::Completed;
}

constexpr int kRowGap = 8;

} // namespace

FileStatusDelegate::FileStatusDelegate(QObject* parent)
    : QStyledItemDelegate(parent), m_clock([] { return QDateTime::currentDateTimeUtc(); })
{}

QSize FileStatusDelegate::sizeHint(const QStyleOptionViewItem& option,
                                   const QModelIndex& index) const
{
    const PendingOutgoingFile* file = fileOf(index);
    int height = 10 + 28 + 10 + kRowGap;
    if (file != nullptr && showsProgress(file->status))
        height += 8 + 6 + 4 + QFontMetrics(sizedFont(10)).height() * 2 + 4;
    return {option.rect.width() > 0 ? option.rect.width() : 380, height};
}

void FileStatusDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const
{
    const PendingOutgoingFile* file = fileOf(index);
    if (file == nullptr)
        return;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QColor text = option.palette.color(QPalette::Text);
    const QColor secondary = secondaryText(text);
    const qreal ratio = painter->device()->devicePixelRatioF();
    const QRect card = option.rect.adjusted(0, 0, 0, -kRowGap);
    painter->setPen(Qt::NoPen);
    painter->setBrush(withAlpha(systemGray(), 0.08));
    painter->drawRoundedRect(QRectF(card), 8, 8);

    const QRect inner = card.adjusted(12, 10, -12, -10);
    const QString name = singleLine(file->url.fileName());
    fileIcon(name).paint(painter, QRect(inner.left(), inner.top(), 28, 28));

    // The status indicator at the trailing edge.
    const QRect indicator(inner.right() - 17, inner.top() + 5, 18, 18);
    switch (file->status) {
    case SendStatus::Waiting: {
        // A small spinner, turned by the sheet's clock.
        const int step = int((m_clock().toMSecsSinceEpoch() / 80) % 12);
        for (int i = 0; i < 12; ++i) {
            painter->save();
            painter->translate(QRectF(indicator).center());
            painter->rotate(30.0 * i);
            painter->setPen(QPen(withAlpha(text, 0.15 + 0.6 * (((i - step + 12) % 12) / 11.0)), 1.6,
                                 Qt::SolidLine, Qt::RoundCap));
            painter->drawLine(QPointF(0, -4), QPointF(0, -7.5));
            painter->restore();
        }
        break;
    }
    case SendStatus::Sending:
        break;
    case SendStatus::Completed:
    case SendStatus::Failed: {
        paintStatusDisc(*painter, QRectF(indicator).adjusted(1, 1, -1, -1),
                        file->status == SendStatus::Completed);
        break;
    }
    }

    const int columnLeft = inner.left() + 38;
    const int columnWidth = indicator.left() - 10 - columnLeft;
    painter->setFont(textFont(TextStyle::Caption, QFont::Medium));
    const int nameHeight = painter->fontMetrics().height();
    painter->setPen(text);
    painter->drawText(
        QRect(columnLeft, inner.top() + (28 - nameHeight * 2 - 1) / 2, columnWidth, nameHeight),
        Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
        painter->fontMetrics().elidedText(name, Qt::ElideMiddle, columnWidth));
    QColor statusColour = secondary;
    if (file->status == SendStatus::Sending)
        statusColour = systemBlue();
    else if (file->status == SendStatus::Completed)
        statusColour = systemGreen();
    else if (file->status == SendStatus::Failed)
        statusColour = systemRed();
    painter->setFont(textFont(TextStyle::Caption2));
    painter->setPen(statusColour);
    painter->drawText(
        QRect(columnLeft, inner.top() + (28 - nameHeight * 2 - 1) / 2 + nameHeight + 1, columnWidth,
              nameHeight),
        Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, sendStatusText(file->status));

    if (!showsProgress(file->status)) {
        painter->restore();
        return;
    }

    // Bar, byte line and detail line under the first line.
    int y = inner.top() + 28 + 8;
    const QRectF track(inner.left(), y, inner.width(), 6);
    painter->setPen(Qt::NoPen);
    painter->setBrush(withAlpha(systemGray(), 0.25));
    painter->drawRoundedRect(track, 3, 3);
    const double progress = sendProgress(*file);
    if (progress > 0) {
        painter->setBrush(systemBlue());
        painter->drawRoundedRect(QRectF(track.left(), track.top(), track.width() * progress, 6), 3,
                                 3);
    }
    y += 6 + 4;
    const QFont mono = sizedFont(10, QFont::Normal, true);
    const int lineHeight = QFontMetrics(mono).height();
    const QRect byteLine(inner.left(), y, inner.width(), lineHeight);
    painter->setFont(mono);
    painter->setPen(secondary);
    const auto units = ByteUnits::KilobytesToGigabytes;
    painter->drawText(byteLine, Qt::AlignLeft | Qt::AlignVCenter,
                      formatByteCount(file->sentBytes, units));
    painter->drawText(byteLine, Qt::AlignRight | Qt::AlignVCenter,
                      formatByteCount(file->bytes, units));
    QFont percentFont = sizedFont(10, QFont::DemiBold, true);
    painter->setFont(percentFont);
    painter->setPen(systemBlue());
    painter->drawText(byteLine, Qt::AlignCenter, QStringLiteral("%1%").arg(sendPercent(*file)));

    y += lineHeight + 4;
    const QRect detailLine(inner.left(), y, inner.width(), lineHeight);
    const QDateTime now = m_clock();
    const int iconSize = lineHeight - 3;
    const QPixmap speed = tintedSymbol(QStringLiteral("speedometer"), iconSize, secondary, ratio);
    if (!speed.isNull())
        painter->drawPixmap(QRect(detailLine.left(), detailLine.top() + 1, iconSize, iconSize),
                            speed);
    painter->setFont(mono);
    painter->setPen(secondary);
    painter->drawText(detailLine.adjusted(iconSize + 4, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                      formatRate(file->bytesPerSecond(now)));
    if (file->status == SendStatus::Sending) {
        const QString eta = formatETA(file->etaSeconds(now));
        const int etaWidth = painter->fontMetrics().horizontalAdvance(eta);
        painter->drawText(detailLine, Qt::AlignRight | Qt::AlignVCenter, eta);
        const QPixmap clock = tintedSymbol(QStringLiteral("clock"), iconSize, secondary, ratio);
        if (!clock.isNull())
            painter->drawPixmap(QRect(detailLine.right() - etaWidth - 4 - iconSize,
                                      detailLine.top() + 1, iconSize, iconSize),
                                clock);
    }
    painter->restore();
}

} // namespace qb
