#pragma once

#include "app/app_theme.h"
#include "platform/preference_store.h"

#include <QObject>

namespace qb {

// The appearance preferences, kept in the preference store under "appTheme" and "fontScale".
// Lives on the GUI thread. Every assignment is stored; signals fire only on real changes.
class AppSettings : public QObject
{
    Q_OBJECT
    Q_PROPERTY(qb::AppTheme theme READ theme WRITE setTheme NOTIFY themeChanged)
    Q_PROPERTY(double fontScale READ fontScale WRITE setFontScale NOTIFY fontScaleChanged)

public:
    static constexpr double defaultFontScale = 1.0;

    // Loads the stored values; an unknown theme text or a font scale that is not a finite
    // number above 0 keeps the default and is left in the store as it is.
    AppSettings(PreferenceStore& store, QObject* parent = nullptr);

    AppTheme theme() const { return m_theme; }
    void setTheme(AppTheme theme);

    double fontScale() const { return m_fontScale; }
    void setFontScale(double scale);

signals:
    void themeChanged(qb::AppTheme theme);
    void fontScaleChanged(double scale);

private:
    PreferenceStore& m_store;
    AppTheme m_theme = AppTheme::System;
    double m_fontScale = defaultFontScale;
};

} // namespace qb
