#include "ui_common/app_font_scale.h"

#include <cmath>

namespace qb {

AppFontScale& AppFontScale::shared()
{
    static AppFontScale* scale = new AppFontScale; // lives until the process ends
    return *scale;
}

void AppFontScale::setValue(double value)
{
    if (!std::isfinite(value) || value <= 0 || value == m_value)
        return;
    m_value = value;
    emit changed(value);
}

QFont AppFontScale::scaled(QFont base) const
{
    if (base.pointSizeF() > 0)
        base.setPointSizeF(base.pointSizeF() * m_value);
    else if (base.pixelSize() > 0)
        base.setPixelSize(qMax(1, qRound(base.pixelSize() * m_value)));
    return base;
}

} // namespace qb
