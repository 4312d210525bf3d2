#include "documents/inline_markdown.h"

#include <QUrl>

#include <list>
#include <map>
#include <unordered_map>
#include <vector>

namespace qb {

namespace {

bool isAsciiPunctuation(QChar c)
{
    return c.unicode() < 128 && QStringView(u"!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~").contains(c);
}

bool isWhitespace(char32_t c)
{
    return c == '\t' || c == '\n' || c == '\f' || c == '\r' ||
           QChar::category(c) == QChar::Separator_Space;
}

bool isPunctuation(char32_t c)
{
    switch (QChar::category(c)) {
    case QChar::Punctuation_Connector:
    case QChar::Punctuation_Dash:
    case QChar::Punctuation_Open:
    case QChar::Punctuation_Close:
    case QChar::Punctuation_InitialQuote:
    case QChar::Punctuation_FinalQuote:
    case QChar::Punctuation_Other:
    case QChar::Symbol_Math:
    case QChar::Symbol_Currency:
    case QChar::Symbol_Modifier:
    case QChar::Symbol_Other:
        return true;
    default:
        return false;
    }
}

// Only links a browser or mail program can take become anchors; others keep their text.
bool isOpenableLink(const QString& destination)
{
    const QUrl url(destination, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == u"http" || scheme == u"https" || scheme == u"mailto");
}

struct Node
{
    enum class Type { Text, Markup, Delimiter, Bracket };
    Type type = Type::Text;
    QString text; // Text: shown escaped; Markup: rich text as is
    QChar marker;
    int length = 0;
    int originalLength = 0;
    bool canOpen = false;
    bool canClose = false;
};
using Nodes = std::list<Node>;

struct Delimiter
{
    Nodes::iterator node;
    qsizetype order;
};

struct Bracket
{
    Nodes::iterator node;
    qsizetype firstInside; // order of the first delimiter after the bracket
    bool active = true;
};

// Deeper nesting makes the destination no link. Each "](" then looks ahead past at most this many
// later ones, which keeps unclosed link syntax from costing time quadratic in its length.
constexpr int kMaxDestinationParens = 32;

struct BacktickRuns
{
    std::vector<qsizetype> starts;
    size_t next = 0; // the first start not yet passed
};

struct LinkTail
{
    QString destination;
    qsizetype end;
};

class InlineParser
{
public:
    explicit InlineParser(QStringView text) : m_text(text) {}

    QString html()
    {
        while (m_pos < m_text.size())
            step();
        processEmphasis(0);
        QString out;
        for (const Node& node : m_nodes) {
            switch (node.type) {
            case Node::Type::Text:
                out += node.text.toHtmlEscaped();
                break;
            case Node::Type::Markup:
                out += node.text;
                break;
            case Node::Type::Delimiter:
                out += QString(node.length, node.marker);
                break;
            case Node::Type::Bracket:
                out += u'[';
                break;
            }
        }
        return out;
    }

private:
    void step()
    {
        const QChar c = m_text[m_pos];
        if (c == u'\\' && m_pos + 1 < m_text.size() && isAsciiPunctuation(m_text[m_pos + 1])) {
            appendText(m_text.sliced(m_pos + 1, 1));
            m_pos += 2;
        } else if (c == u'`') {
            codeSpan();
        } else if (c == u'*' || c == u'_' || c == u'~') {
            delimiterRun(c);
        } else if (c == u'[') {
            m_nodes.push_back({Node::Type::Bracket, {}, {}, 0, 0, false, false});
            m_brackets.push_back({std::prev(m_nodes.end()), m_order, true});
            ++m_pos;
        } else if (c == u']') {
            ++m_pos;
            closeBracket();
        } else {
            appendText(m_text.sliced(m_pos, 1));
            ++m_pos;
        }
    }

    void appendText(QStringView text)
    {
        if (m_nodes.empty() || m_nodes.back().type != Node::Type::Text)
            m_nodes.push_back({});
        m_nodes.back().text += text;
    }

    void appendMarkup(const QString& markup)
    {
        m_nodes.push_back({Node::Type::Markup, markup, {}, 0, 0, false, false});
    }

    qsizetype runEnd(qsizetype from, QChar c) const
    {
        while (from < m_text.size() && m_text[from] == c)
            ++from;
        return from;
    }

    char32_t codePointBefore(qsizetype i) const
    {
        if (i <= 0)
            return ' ';
        if (i >= 2 && m_text[i - 1].isLowSurrogate() && m_text[i - 2].isHighSurrogate())
            return QChar::surrogateToUcs4(m_text[i - 2], m_text[i - 1]);
        return m_text[i - 1].unicode();
    }

    char32_t codePointAt(qsizetype i) const
    {
        if (i >= m_text.size())
            return ' ';
        if (i + 1 < m_text.size() && m_text[i].isHighSurrogate() && m_text[i + 1].isLowSurrogate())
            return QChar::surrogateToUcs4(m_text[i], m_text[i + 1]);
        return m_text[i].unicode();
    }

    void codeSpan()
    {
        const qsizetype start = m_pos;
        const qsizetype contentStart = runEnd(start, u'`');
        const qsizetype length = contentStart - start;
        if (const std::optional<qsizetype> close = closingRun(length, contentStart)) {
            QString content = m_text.sliced(contentStart, *close - contentStart).toString();
            content.replace(QStringLiteral("\r\n"), QStringLiteral(" "))
                .replace(u'\r', u' ')
                .replace(u'\n', u' ');
            if (content.size() >= 2 && content.front() == u' ' && content.back() == u' ' &&
                content.count(u' ') != content.size())
                content = content.sliced(1, content.size() - 2);
            appendMarkup(QStringLiteral("<code>"));
            appendText(content);
            appendMarkup(QStringLiteral("</code>"));
            m_pos = *close + length;
            return;
        }
        appendText(m_text.sliced(start, length));
        m_pos = contentStart;
    }

    // The first run of exactly `length` backticks at or after `from`. The runs are indexed in
    // one pass on first use, so that openers without a closer don't each scan to the end.
    std::optional<qsizetype> closingRun(qsizetype length, qsizetype from)
    {
        if (!m_runsIndexed) {
            m_runsIndexed = true;
            for (qsizetype i = 0; i < m_text.size();) {
                if (m_text[i] != u'`') {
                    ++i;
                    continue;
                }
                const qsizetype end = runEnd(i, u'`');
                m_backtickRuns[end - i].starts.push_back(i);
                i = end;
            }
        }
        const auto found = m_backtickRuns.find(length);
        if (found == m_backtickRuns.end())
            return std::nullopt;
        // Openers come in text order, so a run passed once is never wanted again.
        BacktickRuns& runs = found->second;
        while (runs.next < runs.starts.size() && runs.starts[runs.next] < from)
            ++runs.next;
        if (runs.next == runs.starts.size())
            return std::nullopt;
        return runs.starts[runs.next];
    }

    void delimiterRun(QChar c)
    {
        const qsizetype start = m_pos;
        m_pos = runEnd(start, c);
        const int length = int(m_pos - start);
        const char32_t before = codePointBefore(start);
        const char32_t after = codePointAt(m_pos);
        const bool leftFlanking =
            !isWhitespace(after) &&
            (!isPunctuation(after) || isWhitespace(before) || isPunctuation(before));
        const bool rightFlanking =
            !isWhitespace(before) &&
            (!isPunctuation(before) || isWhitespace(after) || isPunctuation(after));
        bool canOpen = leftFlanking;
        bool canClose = rightFlanking;
        if (c == u'_') {
            canOpen = leftFlanking && (!rightFlanking || isPunctuation(before));
            canClose = rightFlanking && (!leftFlanking || isPunctuation(after));
        }
        // Strikethrough takes exactly two tildes; a single one ("~5 minutes") stays text.
        if ((c == u'~' && length != 2) || (!canOpen && !canClose)) {
            appendText(m_text.sliced(start, length));
            return;
        }
        m_nodes.push_back({Node::Type::Delimiter, {}, c, length, length, canOpen, canClose});
        m_delimiters.push_back({std::prev(m_nodes.end()), m_order++});
    }

    void closeBracket()
    {
        if (m_brackets.empty() || !m_brackets.back().active) {
            if (!m_brackets.empty())
                m_brackets.pop_back();
            appendText(u"]");
            return;
        }
        const Bracket bracket = m_brackets.back();
        m_brackets.pop_back();
        const std::optional<LinkTail> tail = linkTail(m_pos);
        if (!tail) {
            appendText(u"]");
            return;
        }
        m_pos = tail->end;
        processEmphasis(bracket.firstInside);
        const bool anchor = isOpenableLink(tail->destination);
        bracket.node->type = Node::Type::Markup;
        bracket.node->text =
            anchor ? QStringLiteral("<a href=\"%1\">").arg(tail->destination.toHtmlEscaped())
                   : QString();
        appendMarkup(anchor ? QStringLiteral("</a>") : QString());
        // No link inside a link. Brackets below an inactive one were turned off by an earlier link
        // already; stopping there keeps a long run of links linear.
        for (auto earlier = m_brackets.rbegin(); earlier != m_brackets.rend() && earlier->active;
             ++earlier)
            earlier->active = false;
    }

    qsizetype skipSpaces(qsizetype i) const
    {
        while (i < m_text.size() && isWhitespace(m_text[i].unicode()))
            ++i;
        return i;
    }

    // "(destination "title")" right after a "]".
    std::optional<LinkTail> linkTail(qsizetype i) const
    {
        if (i >= m_text.size() || m_text[i] != u'(')
            return std::nullopt;
        i = skipSpaces(i + 1);
        QString destination;
        if (i < m_text.size() && m_text[i] == u'<') {
            for (++i;; ++i) {
                if (i >= m_text.size() || m_text[i] == u'<' || m_text[i] == u'\n')
                    return std::nullopt;
                if (m_text[i] == u'>')
                    break;
                if (m_text[i] == u'\\' && i + 1 < m_text.size() &&
                    isAsciiPunctuation(m_text[i + 1]))
                    ++i;
                destination += m_text[i];
            }
            ++i;
        } else {
            int depth = 0;
            for (; i < m_text.size(); ++i) {
                const QChar c = m_text[i];
                if (c.unicode() <= 0x20 || c.unicode() == 0x7f)
                    break;
                if (c == u'\\' && i + 1 < m_text.size() && isAsciiPunctuation(m_text[i + 1]))
                    ++i;
                else if (c == u'(' && ++depth > kMaxDestinationParens)
                    return std::nullopt;
                else if (c == u')' && depth-- == 0)
                    break;
                destination += m_text[i];
            }
            if (depth > 0)
                return std::nullopt;
        }
        const qsizetype afterDestination = i;
        i = skipSpaces(i);
        if (i < m_text.size() && i > afterDestination && QStringView(u"\"'(").contains(m_text[i])) {
            const QChar open = m_text[i];
            const QChar close = open == u'(' ? u')' : open;
            for (++i; i < m_text.size() && m_text[i] != close; ++i) {
                if (m_text[i] == u'\\')
                    ++i;
                else if (open == u'(' && m_text[i] == u'(')
                    return std::nullopt; // a title in parentheses holds none unescaped
            }
            if (i >= m_text.size())
                return std::nullopt;
            i = skipSpaces(i + 1);
        }
        if (i >= m_text.size() || m_text[i] != u')')
            return std::nullopt;
        return LinkTail{destination, i + 1};
    }

    static bool mayPair(const Node& opener, const Node& closer)
    {
        if (opener.marker == u'~')
            return opener.length == closer.length;
        const bool either =
            (opener.canOpen && opener.canClose) || (closer.canOpen && closer.canClose);
        return !(either && (opener.originalLength + closer.originalLength) % 3 == 0 &&
                 !(opener.originalLength % 3 == 0 && closer.originalLength % 3 == 0));
    }

    // Pairs the delimiters from `bottom` on, innermost first, and drops them from the stack.
    void processEmphasis(qsizetype bottom)
    {
        std::map<int, qsizetype> openersBottom;
        auto current = m_delimiters.begin();
        while (current != m_delimiters.end() && current->order < bottom)
            ++current;
        while (current != m_delimiters.end()) {
            Node& closer = *current->node;
            if (!closer.canClose) {
                ++current;
                continue;
            }
            const int key =
                closer.marker.unicode() * 8 + (closer.canOpen ? 4 : 0) + closer.originalLength % 3;
            const auto known = openersBottom.find(key);
            const qsizetype floor = known == openersBottom.end() ? bottom - 1 : known->second;
            auto opener = m_delimiters.end();
            for (auto it = current; it != m_delimiters.begin();) {
                --it;
                if (it->order <= floor)
                    break;
                const Node& candidate = *it->node;
                if (candidate.marker == closer.marker && candidate.canOpen &&
                    mayPair(candidate, closer)) {
                    opener = it;
                    break;
                }
            }
            if (opener == m_delimiters.end()) {
                openersBottom[key] = current->order - 1;
                current = closer.canOpen ? std::next(current) : m_delimiters.erase(current);
                continue;
            }
            Node& open = *opener->node;
            const bool strike = closer.marker == u'~';
            const int use = strike ? 2 : (open.length >= 2 && closer.length >= 2 ? 2 : 1);
            const QString tag = strike     ? QStringLiteral("s")
                                : use == 2 ? QStringLiteral("b")
                                           : QStringLiteral("i");
            m_nodes.insert(
                std::next(opener->node),
                {Node::Type::Markup, QChar(u'<') + tag + QChar(u'>'), {}, 0, 0, false, false});
            m_nodes.insert(
                current->node,
                {Node::Type::Markup, QStringLiteral("</") + tag + u'>', {}, 0, 0, false, false});
            m_delimiters.erase(std::next(opener), current);
            open.length -= use;
            closer.length -= use;
            if (open.length == 0)
                m_delimiters.erase(opener);
            if (closer.length == 0)
                current = m_delimiters.erase(current);
        }
        while (!m_delimiters.empty() && m_delimiters.back().order >= bottom)
            m_delimiters.pop_back();
    }

    QStringView m_text;
    qsizetype m_pos = 0;
    Nodes m_nodes;
    std::list<Delimiter> m_delimiters;
    std::vector<Bracket> m_brackets;
    qsizetype m_order = 0;
    std::unordered_map<qsizetype, BacktickRuns> m_backtickRuns;
    bool m_runsIndexed = false;
};

QString richText(const QString& body)
{
    return QStringLiteral("<span style=\"white-space: pre-wrap;\">") + body +
           QStringLiteral("</span>");
}

} // namespace

std::optional<QString> inlineMarkdownHtml(QStringView text)
{
    if (!text.isValidUtf16())
        return std::nullopt;
    return InlineParser(text).html();
}

QString inlineRichText(QStringView text)
{
    const std::optional<QString> html = inlineMarkdownHtml(text);
    return html ? richText(*html) : plainRichText(text);
}

QString plainRichText(QStringView text)
{
    return richText(text.toString().toHtmlEscaped());
}

} // namespace qb
