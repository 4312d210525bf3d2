#include "documents/markdown_parser.h"

#include <QTextBoundaryFinder>

#include <unicode/uchar.h>

namespace qb {

namespace {

bool isLineSeparator(QChar c)
{
    switch (c.unicode()) {
    case 0x000A:
    case 0x000B:
    case 0x000C:
    case 0x000D:
    case 0x0085:
    case 0x2028:
    case 0x2029:
        return true;
    default:
        return false;
    }
}

// Tab and the space separators; line separators never reach a line.
bool isBlank(QChar c)
{
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

QStringView trimmed(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

// The line cut into user-perceived characters, so that a marker's blank followed by a combining
// mark is not taken for a plain blank.
std::vector<QStringView> graphemeClusters(QStringView line)
{
    std::vector<QStringView> clusters;
    if (line.isEmpty())
        return clusters;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, line.data(), line.size());
    qsizetype start = 0;
    for (qsizetype next = finder.toNextBoundary(); next > 0; next = finder.toNextBoundary()) {
        if (next > start)
            clusters.push_back(line.sliced(start, next - start));
        start = next;
    }
    if (start < line.size())
        clusters.push_back(line.sliced(start));
    return clusters;
}

char32_t firstCodePoint(QStringView cluster)
{
    if (cluster.size() > 1 && cluster[0].isHighSurrogate() && cluster[1].isLowSurrogate())
        return QChar::surrogateToUcs4(cluster[0], cluster[1]);
    return cluster[0].unicode();
}

class Line
{
public:
    explicit Line(QStringView text) : m_text(text), m_clusters(graphemeClusters(text)) {}

    size_t size() const { return m_clusters.size(); }
    bool isEmpty() const { return m_clusters.empty(); }
    bool isCharacter(size_t index, QChar c) const
    {
        return index < m_clusters.size() && m_clusters[index] == QStringView(&c, 1);
    }
    // Each character of an ASCII prefix must be one whole user-perceived character.
    bool startsWith(QStringView prefix) const
    {
        for (qsizetype i = 0; i < prefix.size(); ++i) {
            if (!isCharacter(size_t(i), prefix[i]))
                return false;
        }
        return true;
    }
    QStringView cluster(size_t index) const { return m_clusters[index]; }
    // Everything from the character at `index` on, trimmed.
    QString from(size_t index) const
    {
        if (index >= m_clusters.size())
            return {};
        return trimmed(m_text.sliced(m_clusters[index].data() - m_text.data())).toString();
    }
    QString before(size_t index) const
    {
        return m_text.first(m_clusters[index].data() - m_text.data()).toString();
    }

private:
    QStringView m_text;
    std::vector<QStringView> m_clusters;
};

MarkdownBlock block(MarkdownBlock::Kind kind, QString text = {}, QString number = {})
{
    return {kind, std::move(number), std::move(text)};
}

} // namespace

bool isNumberCodePoint(char32_t codePoint)
{
    return u_getIntPropertyValue(static_cast<UChar32>(codePoint), UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

MarkdownBlock parseMarkdownLine(QStringView raw)
{
    using Kind = MarkdownBlock::Kind;
    const QStringView text = trimmed(raw);
    const Line line(text);
    if (line.startsWith(u"# "))
        return block(Kind::H1, line.from(2));
    if (line.startsWith(u"## "))
        return block(Kind::H2, line.from(3));
    if (line.startsWith(u"### "))
        return block(Kind::H3, line.from(4));
    if (text == u"---")
        return block(Kind::Rule);
    if (line.startsWith(u"- "))
        return block(Kind::Bullet, line.from(2));
    if (line.isEmpty())
        return block(Kind::Empty);

    // A numbered item: one or more number characters, ".", a blank, the text. A "." with no
    // number in front of it starts a plain paragraph.
    size_t dot = 0;
    while (dot < line.size() && !line.isCharacter(dot, u'.'))
        ++dot;
    bool numbered = dot > 0 && line.isCharacter(dot + 1, u' ');
    for (size_t i = 0; numbered && i < dot; ++i)
        numbered = isNumberCodePoint(firstCodePoint(line.cluster(i)));
    if (numbered)
        return block(Kind::Numbered, line.from(dot + 2), line.before(dot));
    return block(Kind::Paragraph, text.toString());
}

std::vector<MarkdownBlock> parseMarkdown(QStringView document)
{
    std::vector<MarkdownBlock> blocks;
    qsizetype start = 0;
    for (qsizetype i = 0; i < document.size(); ++i) {
        if (isLineSeparator(document[i])) {
            blocks.push_back(parseMarkdownLine(document.sliced(start, i - start)));
            start = i + 1;
        }
    }
    blocks.push_back(parseMarkdownLine(document.sliced(start)));
    return blocks;
}

} // namespace qb
