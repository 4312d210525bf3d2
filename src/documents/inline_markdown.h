#pragma once

#include <QString>
#include <QStringView>

#include <optional>

namespace qb {

// Inline Markdown of one line or step: strong (**), emphasis (* and _), code spans, links and
// strikethrough (~~), following CommonMark's delimiter rules. Block syntax, raw HTML, autolinks
// and entities are not interpreted. Returns the body of a rich text (every other character
// escaped, white space as written), or nothing when the text cannot be parsed (it is not valid
// UTF-16).
std::optional<QString> inlineMarkdownHtml(QStringView text);

// A rich text for a QLabel: the formatted text, or the plain text when it cannot be parsed.
// White space is preserved either way.
QString inlineRichText(QStringView text);

// A rich text showing `text` exactly as written.
QString plainRichText(QStringView text);

} // namespace qb
