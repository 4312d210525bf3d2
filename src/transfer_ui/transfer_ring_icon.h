#pragma once

#include <QVariantAnimation>
#include <QWidget>

namespace qb {

// The toolbar's transfer symbol with a ring around it that fills with the queue's overall
// progress while any job is active. Progress changes slide over 0.2 s; only this widget is
// repainted while they do.
class TransferRingIcon : public QWidget
{
    Q_OBJECT

public:
    // The ring's arc in QPainter's angles (degrees, counter-clockwise from three o'clock):
    // it starts at the top and runs clockwise over the progress's share of the circle.
    struct Arc
    {
        double startDegrees = 90;
        double spanDegrees = 0; // 0: no arc
    };
    static Arc arcFor(double progress);

    static constexpr int animationMilliseconds = 200;

    explicit TransferRingIcon(double progress = 0, bool isActive = false,
                              QWidget* parent = nullptr);

    double progress() const { return m_progress; }
    bool isActive() const { return m_active; }
    // The value drawn now: behind progress() while a change is still sliding.
    double displayedProgress() const { return m_displayed; }

    void setProgress(double progress);
    void setActive(bool active);

    QSize sizeHint() const override { return {28, 28}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double m_progress = 0;
    double m_displayed = 0;
    bool m_active = false;
    QVariantAnimation m_animation;
};

} // namespace qb
