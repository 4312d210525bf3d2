#include "app/appearance.h"

#include "app/app_settings.h"
#include "ui_common/app_font_scale.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>

namespace qb {

namespace {

QPalette darkPalette()
{
    QPalette p;
    const QColor window(45, 45, 48), base(30, 30, 32), text(230, 230, 230), disabled(128, 128, 128),
        highlight(10, 132, 255);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::ToolTipBase, window);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, QColor(150, 150, 150));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, window);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::red);
    p.setColor(QPalette::Link, QColor(64, 156, 255));
    p.setColor(QPalette::Highlight, highlight);
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Light, QColor(70, 70, 74));
    p.setColor(QPalette::Midlight, QColor(60, 60, 64));
    p.setColor(QPalette::Mid, QColor(40, 40, 42));
    p.setColor(QPalette::Dark, QColor(20, 20, 22));
    p.setColor(QPalette::Shadow, Qt::black);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, disabled);
    return p;
}

struct DesktopLook
{
    QString styleName;
    QPalette palette;
};

const DesktopLook& desktopLook()
{
    static const DesktopLook look{QApplication::style() ? QApplication::style()->name() : QString(),
                                  QApplication::palette()};
    return look;
}

void applyTheme(AppTheme theme)
{
    const DesktopLook& desktop = desktopLook();
    const QString style = theme == AppTheme::System ? desktop.styleName : QStringLiteral("Fusion");
    if (!style.isEmpty() && QApplication::style()->name().compare(style, Qt::CaseInsensitive) != 0)
        QApplication::setStyle(QStyleFactory::create(style));
    QApplication::setPalette(paletteFor(theme, desktop.palette));
}

} // namespace

QPalette paletteFor(AppTheme theme, const QPalette& desktopPalette)
{
    switch (theme) {
    case AppTheme::Light: {
        std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
        return fusion ? fusion->standardPalette() : desktopPalette;
    }
    case AppTheme::Dark:
        return darkPalette();
    case AppTheme::System:
        break;
    }
    return desktopPalette;
}

void followAppearance(AppSettings& settings)
{
    desktopLook(); // remembered before the first change
    applyTheme(settings.theme());
    AppFontScale::shared().setValue(settings.fontScale());
    QObject::connect(&settings, &AppSettings::themeChanged, &settings, &applyTheme);
    QObject::connect(&settings, &AppSettings::fontScaleChanged, &settings,
                     [](double scale) { AppFontScale::shared().setValue(scale); });
}

} // namespace qb
