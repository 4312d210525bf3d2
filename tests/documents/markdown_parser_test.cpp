#include "documents/markdown_parser.h"

#include <gtest/gtest.h>

namespace qb {

void PrintTo(const MarkdownBlock& block, std::ostream* os)
{
    *os << "{kind " << int(block.kind) << ", number \"" << block.number.toStdString()
        << "\", text \"" << block.text.toStdString() << "\"}";
}

namespace {

using Kind = MarkdownBlock::Kind;

struct LineCase
{
    const char16_t* line;
    MarkdownBlock expected;
};

TEST(MarkdownParserTest, ClassifiesLinesInTheFixedOrder)
{
    const LineCase cases[] = {
        {u"   # Title  ", {Kind::H1, {}, u"Title"_qs}},
        {u"## Sub", {Kind::H2, {}, u"Sub"_qs}},
        {u"### Three **bold**", {Kind::H3, {}, u"Three **bold**"_qs}},
        {u"#### x", {Kind::Paragraph, {}, u"#### x"_qs}},
        {u"#Title", {Kind::Paragraph, {}, u"#Title"_qs}},
        // Bare markers lose their blank to trimming.
        {u"# ", {Kind::Paragraph, {}, u"#"_qs}},
        {u"- ", {Kind::Paragraph, {}, u"-"_qs}},
        {u"1.", {Kind::Paragraph, {}, u"1."_qs}},
        // A tab is not the marker's blank.
        {u"#\tTitle", {Kind::Paragraph, {}, u"#\tTitle"_qs}},
        {u"-\titem", {Kind::Paragraph, {}, u"-\titem"_qs}},
        {u"1.\tstep", {Kind::Paragraph, {}, u"1.\tstep"_qs}},
        {u"  ---  ", {Kind::Rule, {}, {}}},
        {u"----", {Kind::Paragraph, {}, u"----"_qs}},
        {u"***", {Kind::Paragraph, {}, u"***"_qs}},
        {u"\t - item ", {Kind::Bullet, {}, u"item"_qs}},
        {u"- 1. x", {Kind::Bullet, {}, u"1. x"_qs}},
        {u" \t\u00a0\u3000", {Kind::Empty, {}, {}}},
        {u"12. Twelve", {Kind::Numbered, u"12"_qs, u"Twelve"_qs}},
        {u"1.   spaced ", {Kind::Numbered, u"1"_qs, u"spaced"_qs}},
        {u"1. ", {Kind::Paragraph, {}, u"1."_qs}},
        {u"1.5 litres", {Kind::Paragraph, {}, u"1.5 litres"_qs}},
        {u"A1. x", {Kind::Paragraph, {}, u"A1. x"_qs}},
        {u"1) x", {Kind::Paragraph, {}, u"1) x"_qs}},
        // A "." with no number in front of it is no numbered item.
        {u". text", {Kind::Paragraph, {}, u". text"_qs}},
        // Number characters by numeric type: Arabic-Indic digits, a vulgar fraction, a Roman
        // numeral letter, a Han numeral (not a Unicode number to QChar), a supplementary digit.
        {u"\u0661\u0662. Arabic", {Kind::Numbered, u"\u0661\u0662"_qs, u"Arabic"_qs}},
        {u"\u00bd. half", {Kind::Numbered, u"\u00bd"_qs, u"half"_qs}},
        {u"\u216b. twelve", {Kind::Numbered, u"\u216b"_qs, u"twelve"_qs}},
        {u"\u4e94. five", {Kind::Numbered, u"\u4e94"_qs, u"five"_qs}},
        {u"\U0001d7d1. bold three", {Kind::Numbered, u"\U0001d7d1"_qs, u"bold three"_qs}},
        // Whole user-perceived characters: a digit with a combining mark is still one number
        // character, while a blank with a combining mark is no blank.
        {u"2\u0301. accent", {Kind::Numbered, u"2\u0301"_qs, u"accent"_qs}},
        {u"1. \u0301x", {Kind::Paragraph, {}, u"1. \u0301x"_qs}},
        {u"# \u0301x", {Kind::Paragraph, {}, u"# \u0301x"_qs}},
        {u"- \U0001f44d\U0001f3fd ok", {Kind::Bullet, {}, u"\U0001f44d\U0001f3fd ok"_qs}},
    };
    for (const LineCase& c : cases) {
        const QString line = QString::fromUtf16(c.line);
        EXPECT_EQ(parseMarkdownLine(line), c.expected) << line.toStdString();
    }
}

TEST(MarkdownParserTest, SplitsAtEverySeparatorAndKeepsRepeatedLines)
{
    EXPECT_EQ(parseMarkdown(u""), (std::vector<MarkdownBlock>{{}}));

    const std::vector<MarkdownBlock> crlf = parseMarkdown(u"# A\r\nsame\r\nsame\n");
    const std::vector<MarkdownBlock> expected{{Kind::H1, {}, u"A"_qs},           {},
                                              {Kind::Paragraph, {}, u"same"_qs}, {},
                                              {Kind::Paragraph, {}, u"same"_qs}, {}};
    EXPECT_EQ(crlf, expected);

    const std::vector<MarkdownBlock> separators =
        parseMarkdown(u"a\u000bb\u000cc\u0085d\u2028e\u2029f\rg");
    ASSERT_EQ(separators.size(), 7u);
    EXPECT_EQ(separators.back().text, u"g"_qs);
}

TEST(MarkdownParserTest, AcceptsAnyDecodedBytes)
{
    // Malformed UTF-8, lone surrogates, control characters and long lines never throw.
    const QByteArray bytes("\xff\xfe# \xc3\x28\n1.\xe2\x82 x\n\x00\x01- \xf0\x9f\x92", 32);
    EXPECT_EQ(parseMarkdown(QString::fromUtf8(bytes)).size(), 3u);
    const QChar lone[] = {QChar(0xd800), QChar(u'.'), QChar(u' '), QChar(0xdc00)};
    EXPECT_EQ(parseMarkdownLine(QStringView(lone, 4)).kind, Kind::Paragraph);
    EXPECT_EQ(parseMarkdownLine(QString(100000, u'1') + u". x"_qs).kind, Kind::Numbered);
}

} // namespace
} // namespace qb
