#include "documents/inline_markdown.h"

#include <QTextDocument>

#include <gtest/gtest.h>

namespace qb {
namespace {

TEST(InlineMarkdownTest, FormatsSpansAndEscapesEverythingElse)
{
    const std::pair<const char16_t*, const char16_t*> cases[] = {
        {u"**Quillbay Companion** app", u"<b>Quillbay Companion</b> app"},
        {u"*em* and _em_", u"<i>em</i> and <i>em</i>"},
        {u"***both***", u"<i><b>both</b></i>"},
        {u"**foo*", u"*<i>foo</i>"},
        {u"~~gone~~ in ~5 min", u"<s>gone</s> in ~5 min"},
        {u"`a <b> & \"q\"` <i>", u"<code>a &lt;b&gt; &amp; &quot;q&quot;</code> &lt;i&gt;"},
        {u"*foo`*`", u"*foo<code>*</code>"},
        {u"`a`` b` ``c``", u"<code>a`` b</code> <code>c</code>"},
        {u"[**site**](https://example.com/a?b=1&c=2 \"title\")",
         u"<a href=\"https://example.com/a?b=1&amp;c=2\"><b>site</b></a>"},
        {u"[run](javascript:alert(1))", u"run"},
        {u"[not a link] (x)", u"[not a link] (x)"},
        {u"[t](https://e.com (a(b)))", u"[t](https://e.com (a(b)))"},
        // Unmatched, intraword and space-flanked markers stay as written.
        {u"**unclosed `code", u"**unclosed `code"},
        {u"snake_case_name 2 * 3 * 4", u"snake_case_name 2 * 3 * 4"},
        {u"\\*literal\\* \\", u"*literal* \\"},
        {u"Tom & Jerry's \"<3\"", u"Tom &amp; Jerry's &quot;&lt;3&quot;"},
    };
    for (const auto& [text, html] : cases) {
        EXPECT_EQ(inlineMarkdownHtml(QString::fromUtf16(text)), QString::fromUtf16(html))
            << QString::fromUtf16(text).toStdString();
    }
}

TEST(InlineMarkdownTest, KeepsWhiteSpaceAndFallsBackToThePlainString)
{
    QTextDocument document;
    document.setHtml(inlineRichText(u"two  spaces, **bold**\tand <tags> &amp;"));
    EXPECT_EQ(document.toPlainText(), u"two  spaces, bold\tand <tags> &amp;"_qs);

    const QChar lone[] = {QChar(u'*'), QChar(u'*'), QChar(0xd800), QChar(u'*'), QChar(u'*')};
    const QStringView broken(lone, 5);
    EXPECT_FALSE(inlineMarkdownHtml(broken));
    EXPECT_EQ(inlineRichText(broken), plainRichText(broken));
    document.setHtml(plainRichText(u"**a**  <b>"));
    EXPECT_EQ(document.toPlainText(), u"**a**  <b>"_qs);
}

TEST(InlineMarkdownTest, PathologicalInputStaysLinear)
{
    // Each would take minutes if every opener looked ahead to the end of the text.
    const std::pair<QString, int> patterns[] = {
        {QStringLiteral("*a_[`"), 20000},
        {QStringLiteral("[a]("), 100000},
        {QStringLiteral("[*a*]("), 70000},
    };
    for (const auto& [unit, count] : patterns) {
        SCOPED_TRACE(unit.toStdString());
        const std::optional<QString> html = inlineMarkdownHtml(unit.repeated(count));
        ASSERT_TRUE(html);
        EXPECT_FALSE(html->contains(u"<a "));
    }
    // Links after many open brackets.
    const QString links =
        QStringLiteral("[").repeated(50000) + QStringLiteral("[a](https://e.com)").repeated(50000);
    EXPECT_EQ(inlineMarkdownHtml(links)->count(u"</a>"), 50000);
}

} // namespace
} // namespace qb
