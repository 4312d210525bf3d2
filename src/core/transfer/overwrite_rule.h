#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace qb {

// What a download does when its destination file already exists.
enum class OverwriteRule { Ask, Overwrite, Skip, Rename };

QString toText(OverwriteRule rule);      // "ask", "overwrite", "skip", "rename"
QString displayName(OverwriteRule rule); // the picker label
QList<OverwriteRule> allOverwriteRules();
// Only the four exact texts; other letter case or surrounding spaces give nothing.
std::optional<OverwriteRule> overwriteRuleFromText(const QString& text);

} // namespace qb
