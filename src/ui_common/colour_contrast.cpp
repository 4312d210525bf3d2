#include "ui_common/colour_contrast.h"

#include <algorithm>
#include <cmath>

namespace qb {

namespace {

double linear(double channel)
{
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

QColor mixed(const QColor& colour, const QColor& toward, double amount)
{
    const auto channel = [amount](double from, double to) {
        return from + (to - from) * amount;
    };
    QColor result = QColor::fromRgbF(float(channel(colour.redF(), toward.redF())),
                                     float(channel(colour.greenF(), toward.greenF())),
                                     float(channel(colour.blueF(), toward.blueF())));
    result.setAlpha(colour.alpha());
    return result.toRgb();
}

} // namespace

double relativeLuminance(const QColor& colour)
{
    const QColor rgb = colour.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) +
           0.0722 * linear(rgb.blueF());
}

double contrastRatio(const QColor& a, const QColor& b)
{
    const double first = relativeLuminance(a);
    const double second = relativeLuminance(b);
    return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

QColor composited(const QColor& colour, double opacity, const QColor& background)
{
    QColor result = mixed(background, colour, std::clamp(opacity, 0.0, 1.0));
    result.setAlpha(255);
    return result;
}

QColor readableOn(const QColor& colour, const QColor& background, double minimum)
{
    if (contrastRatio(colour, background) >= minimum)
        return colour.toRgb();
    // Toward whichever end stands out more from the background: the end itself is the best that
    // can be done.
    const QColor end = contrastRatio(Qt::white, background) >= contrastRatio(Qt::black, background)
                           ? QColor(Qt::white)
                           : QColor(Qt::black);
    // Halving keeps a mix that reaches the ratio (the end does, or nothing would) and closes in
    // on the least such mix.
    double low = 0;
    double high = 1;
    for (int step = 0; step < 20; ++step) {
        const double middle = (low + high) / 2;
        if (contrastRatio(mixed(colour, end, middle), background) >= minimum)
            high = middle;
        else
            low = middle;
    }
    return mixed(colour, end, high);
}

} // namespace qb
