#pragma once

#include <QString>
#include <QStringView>

#include <vector>

namespace qb {

// One line of a built-in document. The documents use a small line-based subset of Markdown:
// every line is one block, there is no nesting and no block spans two lines.
struct MarkdownBlock
{
    enum class Kind { H1, H2, H3, Bullet, Numbered, Paragraph, Rule, Empty };

    Kind kind = Kind::Empty;
    QString number; // Numbered only: the characters in front of the "."
    QString text;   // headings, items and paragraphs

    bool operator==(const MarkdownBlock&) const = default;
};

// One block per line, in order. Every line separator (LF, VT, FF, CR, NEL, LS, PS) ends a line
// on its own, so CR LF yields an empty line between its two characters.
std::vector<MarkdownBlock> parseMarkdown(QStringView document);

// Classifies one line (without its separator). Accepts any text.
MarkdownBlock parseMarkdownLine(QStringView line);

// Whether a code point has a Unicode numeric type (digits of any script, fractions, Roman
// numeral letters, Han numerals and the like).
bool isNumberCodePoint(char32_t codePoint);

} // namespace qb
