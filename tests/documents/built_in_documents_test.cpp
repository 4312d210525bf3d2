#include "documents/built_in_documents.h"
#include "documents/markdown_parser.h"
#include "platform/support_contact.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <set>

namespace qb {
namespace {

using Kind = MarkdownBlock::Kind;

struct DocumentCase
{
    const char* name;
    QString text;
    std::set<Kind> kinds; // exactly the kinds the document is written with
    int lines;
    int numberedSections; // "# 1. ...", "# 2. ..." in order; 0 when it has none
};

TEST(BuiltInDocumentsTest, UseOnlyTheirKindsAndKeepTheirShape)
{
    const std::set<Kind> all{Kind::H1,       Kind::H2,   Kind::H3,    Kind::Bullet,
                             Kind::Numbered, Kind::Rule, Kind::Empty, Kind::Paragraph};
    std::set<Kind> noNumbers = all;
    noNumbers.erase(Kind::Numbered);
    std::set<Kind> terms = noNumbers;
    terms.erase(Kind::H3);
    const std::set<Kind> about{Kind::H1,     Kind::H2,        Kind::Rule,
                               Kind::Bullet, Kind::Paragraph, Kind::Empty};
    const DocumentCase cases[] = {
        {"about", BuiltInDocuments::about(), about, 93, 0},
        {"help", BuiltInDocuments::help(), all, 207, 0},
        {"privacy", BuiltInDocuments::privacyPolicy(), noNumbers, 212, 16},
        {"terms", BuiltInDocuments::terms(), terms, 199, 17},
    };
    for (const DocumentCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<MarkdownBlock> blocks = parseMarkdown(c.text);
        EXPECT_NEAR(int(blocks.size()), c.lines, c.lines / 10);
        std::set<Kind> kinds;
        int section = 0;
        for (size_t i = 0; i < blocks.size(); ++i) {
            kinds.insert(blocks[i].kind);
            // A rule stands between two empty lines.
            if (blocks[i].kind == Kind::Rule) {
                EXPECT_EQ(blocks.at(i - 1).kind, Kind::Empty) << i;
                EXPECT_EQ(blocks.at(i + 1).kind, Kind::Empty) << i;
            }
            if (c.numberedSections && blocks[i].kind == Kind::H1 && i > 0) {
                EXPECT_TRUE(blocks[i].text.startsWith(QString::number(++section) + u". "_qs))
                    << blocks[i].text.toStdString();
            }
        }
        EXPECT_EQ(kinds, c.kinds);
        EXPECT_EQ(section, c.numberedSections);
        EXPECT_EQ(blocks.front().kind, Kind::H1);
        EXPECT_FALSE(c.text.contains(u"{{"));
    }
    const std::vector<MarkdownBlock> aboutBlocks = parseMarkdown(BuiltInDocuments::about());
    EXPECT_EQ(std::count_if(aboutBlocks.begin(), aboutBlocks.end(),
                            [](const MarkdownBlock& b) { return b.kind == Kind::H1; }),
              1);
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
