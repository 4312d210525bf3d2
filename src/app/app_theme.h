#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

#include <optional>

namespace qb {

enum class AppTheme { System, Light, Dark };

QString toText(AppTheme theme); // "system", "light", "dark"
// Only the three exact texts, case-sensitive.
std::optional<AppTheme> appThemeFromText(const QString& text);
QList<AppTheme> allAppThemes();

} // namespace qb

Q_DECLARE_METATYPE(qb::AppTheme)
