#include "core/transfer/transfer_job.h"
#include "core/transfer/transfer_preferences.h"

#include <gtest/gtest.h>

#include <QSet>
#include <QTemporaryDir>

using namespace qb;

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

TEST(TransferJob, EndpointsOfDifferentKindsNeverMatch)
{
    const auto phone = TransferEndpoint::android("dev", "1/2", "a.jpg");
    TransferEndpoint local = phone; // a local endpoint whose leftover fields match
    local.kind = TransferEndpoint::Kind::Local;
    EXPECT_NE(local, phone);
    EXPECT_EQ(
        (QSet<TransferEndpoint>{phone, local, TransferEndpoint::android("dev", "1/2", "a.jpg")}
             .size()),
        2);
    EXPECT_FALSE(fileSize(QUrl::fromLocalFile("/nonexistent/a.bin")));
    EXPECT_FALSE(fileSize(QUrl("https://example.invalid/a.bin")));
}
