#include "documents/built_in_documents.h"
#include "documents/markdown_parser.h"
#include "platform/support_contact.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <tuple>

namespace qb {
namespace {

using Kind = MarkdownBlock::Kind;

TEST(BuiltInDocumentsTest, KeepTheirShape)
{
    // Name, text, "# 1. ...", "# 2. ..." sections in order (0 when it has none).
    const std::tuple<const char*, QString, int> cases[] = {
        {"about", BuiltInDocuments::about(), 0},
        {"help", BuiltInDocuments::help(), 0},
        {"privacy", BuiltInDocuments::privacyPolicy(), 16},
        {"terms", BuiltInDocuments::terms(), 17},
    };
    for (const auto& [name, text, numberedSections] : cases) {
        SCOPED_TRACE(name);
        const std::vector<MarkdownBlock> blocks = parseMarkdown(text);
        ASSERT_GT(blocks.size(), 50u);
        EXPECT_EQ(blocks.front().kind, Kind::H1);
        int section = 0;
        for (size_t i = 0; i < blocks.size(); ++i) {
            // A rule stands between two empty lines.
            if (blocks[i].kind == Kind::Rule) {
                EXPECT_EQ(blocks.at(i - 1).kind, Kind::Empty) << i;
                EXPECT_EQ(blocks.at(i + 1).kind, Kind::Empty) << i;
            }
            if (numberedSections && blocks[i].kind == Kind::H1 && i > 0) {
                EXPECT_TRUE(blocks[i].text.startsWith(QString::number(++section) + u". "_qs))
                    << blocks[i].text.toStdString();
            }
        }
        EXPECT_EQ(section, numberedSections);
        EXPECT_FALSE(text.contains(u"{{"));
    }
}

TEST(BuiltInDocumentsTest, SayWhatThisSystemDoes)
{
    const QString all = BuiltInDocuments::about() + BuiltInDocuments::help() +
                        BuiltInDocuments::privacyPolicy() + BuiltInDocuments::terms();
    // Another platform's words and mechanisms have no place here.
    for (const char* wrong : {"keychain", "webdav", "macos", "finder", "icloud", "bonjour"})
        EXPECT_FALSE(all.contains(QLatin1String(wrong), Qt::CaseInsensitive)) << wrong;
    EXPECT_FALSE(all.contains(QRegularExpression(QStringLiteral("\\bMac\\b"))));
    // Bluetooth is named only to say it is not used.
    for (const QString& line : all.split(u'\n')) {
        if (line.contains(u"Bluetooth") && !line.startsWith(u"# ")) {
            EXPECT_TRUE(line.contains(u" not ") || line.contains(u" no ")) << line.toStdString();
        }
    }
    const QString privacy = BuiltInDocuments::privacyPolicy();
    for (const char* fact : {"~/.local/share/Quillbay/wifi_peers.json", "0600", "plain HTTP",
                             "Avahi", "libmtp", "libusb", "udev", "firewall"})
        EXPECT_TRUE(privacy.contains(QLatin1String(fact))) << fact;
    for (const QString& document :
         {BuiltInDocuments::help(), privacy, BuiltInDocuments::terms(), BuiltInDocuments::about()})
        EXPECT_TRUE(document.contains(SupportContact::emailAddress()));
    EXPECT_TRUE(BuiltInDocuments::about().contains(u"**Version:** 1.0.0\n**Build:** 1\n"));
}

} // namespace
} // namespace qb
