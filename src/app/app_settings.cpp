#include "app/app_settings.h"

#include <cmath>

namespace qb {

namespace {

const QString kAppTheme = QStringLiteral("appTheme");
const QString kFontScale = QStringLiteral("fontScale");

} // namespace

AppSettings::AppSettings(PreferenceStore& store, QObject* parent) : QObject(parent), m_store(store)
{
    if (const auto text = m_store.text(kAppTheme)) {
        if (const auto theme = appThemeFromText(*text))
            setTheme(*theme);
    }
    if (const auto scale = m_store.number(kFontScale)) {
        if (std::isfinite(*scale) && *scale > 0)
            setFontScale(*scale);
    }
}

void AppSettings::setTheme(AppTheme theme)
{
    m_store.setValue(kAppTheme, toText(theme));
    if (theme == m_theme)
        return;
    m_theme = theme;
    emit themeChanged(theme);
}

void AppSettings::setFontScale(double scale)
{
    m_store.setValue(kFontScale, scale);
    if (scale == m_fontScale)
        return;
    m_fontScale = scale;
    emit fontScaleChanged(scale);
}

} // namespace qb
