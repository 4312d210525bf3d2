#include "app/app_settings.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTemporaryDir>

#include <limits>

using namespace qb;

TEST(AppSettingsTest, DefaultsAreNotStoredAndOnlyChangesAreSignalledButEveryChoicePersists)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("prefs.ini"));
    {
        QSettingsPreferenceStore store(path);
        AppSettings settings(store);
        EXPECT_EQ(settings.theme(), AppTheme::System);
        EXPECT_EQ(settings.fontScale(), 1.0);
        EXPECT_FALSE(store.value("appTheme") || store.value("fontScale"));
        QSignalSpy themeSpy(&settings, &AppSettings::themeChanged);
        QSignalSpy scaleSpy(&settings, &AppSettings::fontScaleChanged);
        // Assigning the default still writes the key.
        settings.setTheme(AppTheme::System);
        settings.setFontScale(1.0);
        EXPECT_EQ(store.text("appTheme"), "system");
        EXPECT_EQ(store.number("fontScale"), 1.0);
        settings.setTheme(AppTheme::Dark);
        settings.setTheme(AppTheme::Dark);
        settings.setFontScale(2.5);
        ASSERT_EQ(themeSpy.count(), 1);
        EXPECT_EQ(themeSpy.at(0).at(0).value<AppTheme>(), AppTheme::Dark);
        ASSERT_EQ(scaleSpy.count(), 1);
        EXPECT_EQ(settings.property("fontScale").toDouble(), 2.5);
    }
    QSettingsPreferenceStore store(path);
    const AppSettings settings(store);
    EXPECT_EQ(settings.theme(), AppTheme::Dark);
    EXPECT_EQ(settings.fontScale(), 2.5); // no upper bound on load
}

TEST(AppSettingsTest, BadStoredValuesFallBackWithoutBeingRewritten)
{
    QTemporaryDir dir;
    QSettingsPreferenceStore store(dir.filePath(QStringLiteral("prefs.ini")));
    const QVariant badScales[] = {0.0,
                                  -1.0,
                                  std::numeric_limits<double>::quiet_NaN(),
                                  std::numeric_limits<double>::infinity(),
                                  QString("big"),
                                  true};
    const QVariant badThemes[] = {QString("Dark"), 7, QString(" system")};
    for (const QVariant& bad : badScales) {
        for (const QVariant& badTheme : badThemes) {
            store.setValue("fontScale", bad);
            store.setValue("appTheme", badTheme);
            const AppSettings settings(store);
            EXPECT_EQ(settings.fontScale(), 1.0) << bad.toString().toStdString();
            EXPECT_EQ(settings.theme(), AppTheme::System);
            EXPECT_EQ(store.value("fontScale")->toString(), bad.toString());
            EXPECT_EQ(store.value("appTheme")->toString(), badTheme.toString());
        }
    }
}
