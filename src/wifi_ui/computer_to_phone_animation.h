#pragma once

#include <QDateTime>
#include <QWidget>

#include <functional>

namespace qb {

// The picture at the top of the send sheet: a computer badge, a phone badge, a dotted line
// between them and, while files are on their way, three document packets gliding along it. It
// paints the moment it is asked to; its owner's timer decides how often that is.
class ComputerToPhoneAnimation : public QWidget
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;

    explicit ComputerToPhoneAnimation(QWidget* parent = nullptr);

    bool isActive() const { return m_active; }
    void setActive(bool active);
    void setClock(Clock clock) { m_clock = std::move(clock); }

    QSize sizeHint() const override { return {412, 110}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void paintBadge(QPainter& painter, const QPointF& centre, const QString& symbol,
                    const QString& label);
    void paintPacket(QPainter& painter, const QPointF& centre, qreal opacity);

    bool m_active = false;
    Clock m_clock;
};

} // namespace qb
