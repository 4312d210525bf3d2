#include "transfer_ui/transfer_ring_icon.h"

#include "ui_common/symbol_icon.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace qb {

namespace {

constexpr int kImageSize = 16;
constexpr double kRingFrame = 24;
constexpr double kLineWidth = 2.5;

double clampedProgress(double progress)
{
    return std::isnan(progress) ? 0.0 : std::clamp(progress, 0.0, 1.0);
}

} // namespace

TransferRingIcon::Arc TransferRingIcon::arcFor(double progress)
{
    return Arc{90, -360 * clampedProgress(progress)};
}

TransferRingIcon::TransferRingIcon(double progress, bool isActive, QWidget* parent)
    : QWidget(parent), m_progress(progress), m_displayed(progress), m_active(isActive)
{
    setFixedSize(28, 28);
    m_animation.setDuration(animationMilliseconds);
    m_animation.setEasingCurve(QEasingCurve::Linear);
    connect(&m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_displayed = value.toDouble();
        update();
    });
}

void TransferRingIcon::setProgress(double progress)
{
    if (progress == m_progress)
        return;
    m_progress = progress;
    m_animation.stop();
    if (!m_active) {
        m_displayed = progress;
        return;
    }
    m_animation.setStartValue(m_displayed);
    m_animation.setEndValue(progress);
    m_animation.start();
}

void TransferRingIcon::setActive(bool active)
{
    if (active == m_active)
        return;
    m_active = active;
    // The ring comes and goes at once, standing at the current progress.
    m_animation.stop();
    m_displayed = m_progress;
    update();
}

void TransferRingIcon::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = rect();
    const QPixmap image = tintedSymbol(QStringLiteral("arrow.up.arrow.down.circle"), kImageSize,
                                       palette().color(QPalette::ButtonText), devicePixelRatioF());
    const QRectF imageRect(bounds.center() - QPointF(kImageSize, kImageSize) / 2,
                           QSizeF(kImageSize, kImageSize));
    if (!image.isNull()) {
        painter.drawPixmap(imageRect.topLeft(), image);
    } else {
        painter.setPen(palette().color(QPalette::ButtonText));
        painter.drawText(imageRect, Qt::AlignCenter, QStringLiteral("\u21C5"));
    }

    if (!m_active)
        return;
    const Arc arc = arcFor(m_displayed);
    if (arc.spanDegrees == 0)
        return;
    const double inset = kLineWidth / 2;
    const QRectF ring(bounds.center().x() - kRingFrame / 2 + inset,
                      bounds.center().y() - kRingFrame / 2 + inset, kRingFrame - kLineWidth,
                      kRingFrame - kLineWidth);
    QPen pen(palette().color(QPalette::Highlight), kLineWidth, Qt::SolidLine, Qt::RoundCap,
             Qt::MiterJoin);
    pen.setMiterLimit(10);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    QPainterPath path;
    path.arcMoveTo(ring, arc.startDegrees);
    path.arcTo(ring, arc.startDegrees, arc.spanDegrees);
    painter.drawPath(path);
}

} // namespace qb
