#include "core/transfer/transfer_preferences.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace qb;

namespace {

const QStringList kKeys{"downloadFolder", "overwriteRule", "parallelTransfers", "showQuickAccess"};

class TransferPreferencesTest : public ::testing::Test
{
protected:
    QString iniPath() const { return m_dir.filePath(QStringLiteral("prefs.ini")); }
    QTemporaryDir m_dir;
};

} // namespace

TEST_F(TransferPreferencesTest, DefaultsAreNotStoredAndWrittenValuesSurviveARestart)
{
    {
        QSettingsPreferenceStore store(iniPath());
        TransferPreferences prefs(store);
        EXPECT_EQ(prefs.overwriteRule(), OverwriteRule::Ask);
        EXPECT_EQ(prefs.parallelTransfers(), 2);
        EXPECT_TRUE(prefs.showQuickAccess());
        for (const QString& key : kKeys)
            EXPECT_FALSE(store.value(key)) << key.toStdString();
        prefs.setDownloadFolder("/srv/phone drops");
        prefs.setOverwriteRule(OverwriteRule::Rename);
        prefs.setParallelTransfers(5);
        prefs.setShowQuickAccess(false);
    }
    QSettingsPreferenceStore store(iniPath());
    const TransferPreferences prefs(store);
    EXPECT_EQ(prefs.downloadFolder(), "/srv/phone drops");
    EXPECT_EQ(prefs.overwriteRuleText(), "rename");
    EXPECT_EQ(prefs.overwriteRule(), OverwriteRule::Rename);
    EXPECT_EQ(prefs.parallelTransfers(), 5);
    EXPECT_FALSE(prefs.showQuickAccess());
}

TEST_F(TransferPreferencesTest, BadStoredValuesReadAsDefaultsAndAreNotRewritten)
{
    QSettingsPreferenceStore store(iniPath());
    store.setValue("downloadFolder", QStringList{"a", "b"});
    store.setValue("overwriteRule", "Overwrite");
    store.setValue("parallelTransfers", "many");
    store.setValue("showQuickAccess", "maybe");
    const TransferPreferences prefs(store);

    EXPECT_EQ(prefs.downloadFolder(), QString());
    // The raw text goes to the engine as stored; as a rule it counts as "ask".
    EXPECT_EQ(prefs.overwriteRuleText(), "Overwrite");
    EXPECT_EQ(prefs.overwriteRule(), OverwriteRule::Ask);
    EXPECT_EQ(prefs.parallelTransfers(), 2);
    EXPECT_TRUE(prefs.showQuickAccess());

    EXPECT_EQ(store.value("downloadFolder")->toStringList(), (QStringList{"a", "b"}));
    EXPECT_EQ(store.value("overwriteRule")->toString(), "Overwrite");
    EXPECT_EQ(store.value("parallelTransfers")->toString(), "many");
    EXPECT_EQ(store.value("showQuickAccess")->toString(), "maybe");
}

TEST_F(TransferPreferencesTest, ParallelTransfersStayWithinOneToEight)
{
    QSettingsPreferenceStore store(iniPath());
    TransferPreferences prefs(store);
    for (int stored : {0, -3, 9, 1000}) {
        store.setValue("parallelTransfers", stored);
        EXPECT_EQ(prefs.parallelTransfers(), 2) << stored;
    }
    store.setValue("parallelTransfers", 2.5);
    EXPECT_EQ(prefs.parallelTransfers(), 2);
    store.setValue("parallelTransfers", 8);
    EXPECT_EQ(prefs.parallelTransfers(), 8);

    prefs.setParallelTransfers(12);
    EXPECT_EQ(prefs.parallelTransfers(), 8);
    prefs.setParallelTransfers(0);
    EXPECT_EQ(prefs.parallelTransfers(), 1);
}
