#include "core/transfer/transfer_preferences.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace qb;

TEST(TransferPreferences, DefaultsAreNotStoredAndWrittenValuesSurviveARestart)
{
    QTemporaryDir dir;
    {
        QSettingsPreferenceStore store(dir.filePath("prefs.ini"));
        TransferPreferences prefs(store);
        EXPECT_EQ(prefs.overwriteRule(), OverwriteRule::Ask);
        EXPECT_EQ(prefs.parallelTransfers(), 2);
        EXPECT_TRUE(prefs.showQuickAccess());
        for (const char* key :
             {"downloadFolder", "overwriteRule", "parallelTransfers", "showQuickAccess"})
            EXPECT_FALSE(store.value(key)) << key;
        prefs.setDownloadFolder("/srv/phone drops");
        prefs.setOverwriteRule(OverwriteRule::Rename);
        prefs.setParallelTransfers(5);
        prefs.setShowQuickAccess(false);
    }
    QSettingsPreferenceStore store(dir.filePath("prefs.ini"));
    const TransferPreferences prefs(store);
    EXPECT_EQ(prefs.downloadFolder(), "/srv/phone drops");
    EXPECT_EQ(prefs.overwriteRuleText(), "rename");
    EXPECT_EQ(prefs.parallelTransfers(), 5);
    EXPECT_FALSE(prefs.showQuickAccess());
}

TEST(TransferPreferences, BadStoredValuesReadAsDefaultsAndAreNotRewritten)
{
    QTemporaryDir dir;
    QSettingsPreferenceStore store(dir.filePath("prefs.ini"));
    TransferPreferences prefs(store);
    store.setValue("downloadFolder", QStringList{"a", "b"});
    store.setValue("overwriteRule", "Overwrite");
    store.setValue("showQuickAccess", "maybe");
    EXPECT_EQ(prefs.downloadFolder(), QString());
    // The raw text goes to the engine as stored; as a rule it counts as "ask".
    EXPECT_EQ(prefs.overwriteRuleText(), "Overwrite");
    EXPECT_EQ(prefs.overwriteRule(), OverwriteRule::Ask);
    EXPECT_TRUE(prefs.showQuickAccess());
    EXPECT_EQ(store.value("downloadFolder")->toStringList(), (QStringList{"a", "b"}));
    EXPECT_EQ(store.value("showQuickAccess")->toString(), "maybe");

    // Parallel transfers stay within one to eight.
    for (const QVariant& stored : {QVariant("many"), QVariant(0), QVariant(9), QVariant(2.5)}) {
        store.setValue("parallelTransfers", stored);
        EXPECT_EQ(prefs.parallelTransfers(), 2) << stored.toString().toStdString();
    }
    EXPECT_EQ(store.value("parallelTransfers")->toDouble(), 2.5);
    store.setValue("parallelTransfers", 8);
    EXPECT_EQ(prefs.parallelTransfers(), 8);
    prefs.setParallelTransfers(12);
    EXPECT_EQ(prefs.parallelTransfers(), 8);
    prefs.setParallelTransfers(0);
    EXPECT_EQ(prefs.parallelTransfers(), 1);
}
