#include "platform/preference_store.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <limits>

using namespace qb;

TEST(PreferenceStoreTest, ValuesKeepTheirTypeThroughTheFileAndReadersRefuseOtherTypes)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("prefs.ini"));
    {
        QSettingsPreferenceStore store(path);
        EXPECT_FALSE(store.value(QStringLiteral("empty")).has_value());
        store.setValue(QStringLiteral("empty"), QString());
        store.setValue(QStringLiteral("t"), QStringLiteral("dark"));
        store.setValue(QStringLiteral("b"), false);
        store.setValue(QStringLiteral("neg"), -0.25);
        store.setValue(QStringLiteral("big"), qint64(1) << 40);
        store.setValue(QStringLiteral("nan"), std::numeric_limits<double>::quiet_NaN());
    }
    const QSettingsPreferenceStore store(path);
    // An empty text is stored, and so differs from an absent key.
    ASSERT_TRUE(store.value(QStringLiteral("empty")).has_value());
    EXPECT_EQ(store.text(QStringLiteral("empty")), QString());
    EXPECT_FALSE(store.value(QStringLiteral("missing")).has_value());
    EXPECT_EQ(store.text(QStringLiteral("t")), QStringLiteral("dark"));
    EXPECT_EQ(store.boolean(QStringLiteral("b")), false);
    EXPECT_EQ(store.number(QStringLiteral("neg")), -0.25);
    EXPECT_EQ(store.integer(QStringLiteral("big")), qint64(1) << 40);
    // Whatever the file makes of it, a not-a-number never reads as an ordinary value.
    const auto nan = store.number(QStringLiteral("nan"));
    EXPECT_TRUE(!nan || *nan != *nan);

    // Typed readers refuse values of another type.
    QSettingsPreferenceStore other(dir.filePath(QStringLiteral("other.ini")));
    other.setValue(QStringLiteral("flag"), true);
    other.setValue(QStringLiteral("yes"), QStringLiteral("yes"));
    other.setValue(QStringLiteral("half"), 1.5);
    other.setValue(QStringLiteral("list"), QStringList{"a", "b"});
    EXPECT_FALSE(store.integer(QStringLiteral("t")) || store.number(QStringLiteral("t")));
    // A Boolean is not a number, however QVariant would convert it.
    EXPECT_FALSE(other.number(QStringLiteral("flag")) || other.integer(QStringLiteral("flag")));
    EXPECT_FALSE(store.boolean(QStringLiteral("t")) || other.boolean(QStringLiteral("yes")));
    EXPECT_FALSE(other.integer(QStringLiteral("half")));
    EXPECT_FALSE(other.text(QStringLiteral("list")) || other.boolean(QStringLiteral("list")));
}

TEST(PreferenceStoreTest, TellsOfEachRealChangeOfAKey)
{
    QTemporaryDir dir;
    QSettingsPreferenceStore store(dir.filePath(QStringLiteral("prefs.ini")));
    QStringList changed;
    QObject::connect(&store, &PreferenceStore::changed,
                     [&](const QString& key) { changed.append(key); });
    store.setValue(QStringLiteral("downloadFolder"), QStringLiteral("/a"));
    store.setValue(QStringLiteral("downloadFolder"), QStringLiteral("/a")); // the same again
    store.setValue(QStringLiteral("empty"), QString()); // absent before, so a change
    store.setValue(QStringLiteral("downloadFolder"), QStringLiteral("/b"));
    EXPECT_EQ(changed, QStringList({QStringLiteral("downloadFolder"), QStringLiteral("empty"),
                                    QStringLiteral("downloadFolder")}));
}
