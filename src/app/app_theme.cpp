#include "app/app_theme.h"

namespace qb {

QString toText(AppTheme theme)
{
    switch (theme) {
    case AppTheme::System:
        return QStringLiteral("system");
    case AppTheme::Light:
        return QStringLiteral("light");
    case AppTheme::Dark:
        return QStringLiteral("dark");
    }
    return {};
}

std::optional<AppTheme> appThemeFromText(const QString& text)
{
    for (AppTheme theme : allAppThemes()) {
        if (toText(theme) == text)
            return theme;
    }
    return std::nullopt;
}

QList<AppTheme> allAppThemes()
{
    return {AppTheme::System, AppTheme::Light, AppTheme::Dark};
}

} // namespace qb
