#include "platform/preference_store.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <limits>

using namespace qb;

TEST(PreferenceStoreTest, ValuesKeepTheirTypeAndValueThroughTheFile)
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
}

TEST(PreferenceStoreTest, TypedReadersRejectValuesOfAnotherType)
{
    QTemporaryDir dir;
    QSettingsPreferenceStore store(dir.filePath(QStringLiteral("prefs.ini")));
    store.setValue(QStringLiteral("word"), QStringLiteral("many"));
    store.setValue(QStringLiteral("flag"), true);
    store.setValue(QStringLiteral("yes"), QStringLiteral("yes"));
    store.setValue(QStringLiteral("half"), 1.5);
    store.setValue(QStringLiteral("list"), QStringList{"a", "b"});

    EXPECT_FALSE(store.integer(QStringLiteral("word")));
    EXPECT_FALSE(store.number(QStringLiteral("word")));
    EXPECT_FALSE(store.boolean(QStringLiteral("word")));
    // A Boolean is not a number, however QVariant would convert it.
    EXPECT_FALSE(store.number(QStringLiteral("flag")));
    EXPECT_FALSE(store.integer(QStringLiteral("flag")));
    EXPECT_FALSE(store.boolean(QStringLiteral("yes")));
    EXPECT_FALSE(store.integer(QStringLiteral("half")));
    EXPECT_FALSE(store.text(QStringLiteral("list")));
    EXPECT_FALSE(store.boolean(QStringLiteral("list")));
}
