#include "app/app_settings.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTemporaryDir>

#include <limits>

using namespace qb;

namespace {

class AppSettingsTest : public ::testing::Test
{
protected:
    QString iniPath() const { return m_dir.filePath(QStringLiteral("prefs.ini")); }
    QTemporaryDir m_dir;
};

} // namespace

TEST(AppTheme, ParsesOnlyTheThreeExactTexts)
{
    for (AppTheme theme : allAppThemes())
        EXPECT_EQ(appThemeFromText(toText(theme)), theme);
    EXPECT_EQ(toText(AppTheme::Dark), QStringLiteral("dark"));
    for (const char* bad : {"Dark", "LIGHT", " system", ""})
        EXPECT_FALSE(appThemeFromText(QString::fromUtf8(bad))) << bad;
}

TEST_F(AppSettingsTest, DefaultsAreNotStoredAndChoicesPersistAcrossLaunches)
{
    {
        QSettingsPreferenceStore store(iniPath());
        AppSettings settings(store);
        EXPECT_EQ(settings.theme(), AppTheme::System);
        EXPECT_EQ(settings.fontScale(), 1.0);
        EXPECT_FALSE(store.value("appTheme"));
        EXPECT_FALSE(store.value("fontScale"));
        settings.setTheme(AppTheme::Dark);
        settings.setFontScale(2.5);
    }
    QSettingsPreferenceStore store(iniPath());
    const AppSettings settings(store);
    EXPECT_EQ(settings.theme(), AppTheme::Dark);
    EXPECT_EQ(settings.fontScale(), 2.5); // no upper bound on load
}

TEST_F(AppSettingsTest, BadStoredValuesFallBackWithoutBeingRewritten)
{
    QSettingsPreferenceStore store(iniPath());
    const QVariant badScales[] = {0.0,
                                  -1.0,
                                  std::numeric_limits<double>::quiet_NaN(),
                                  std::numeric_limits<double>::infinity(),
                                  QString("big"),
                                  true};
    const QVariant badThemes[] = {QString("Dark"), 7};
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

TEST_F(AppSettingsTest, EveryAssignmentIsStoredButOnlyChangesAreSignalled)
{
    QSettingsPreferenceStore store(iniPath());
    AppSettings settings(store);
    QSignalSpy themeSpy(&settings, &AppSettings::themeChanged);
    QSignalSpy scaleSpy(&settings, &AppSettings::fontScaleChanged);

    // Assigning the default still writes the key.
    settings.setTheme(AppTheme::System);
    settings.setFontScale(1.0);
    EXPECT_EQ(store.text("appTheme"), "system");
    EXPECT_EQ(store.number("fontScale"), 1.0);
    EXPECT_EQ(themeSpy.count(), 0);
    EXPECT_EQ(scaleSpy.count(), 0);

    settings.setTheme(AppTheme::Light);
    settings.setTheme(AppTheme::Light);
    settings.setFontScale(1.25);
    ASSERT_EQ(themeSpy.count(), 1);
    EXPECT_EQ(themeSpy.at(0).at(0).value<AppTheme>(), AppTheme::Light);
    ASSERT_EQ(scaleSpy.count(), 1);
    EXPECT_EQ(scaleSpy.at(0).at(0).toDouble(), 1.25);
    EXPECT_EQ(settings.property("fontScale").toDouble(), 1.25);
    EXPECT_EQ(store.text("appTheme"), "light");
}
