#include "core/transfer/overwrite_rule.h"

namespace qb {

QString toText(OverwriteRule rule)
{
    switch (rule) {
    case OverwriteRule::Ask:
        return QStringLiteral("ask");
    case OverwriteRule::Overwrite:
        return QStringLiteral("overwrite");
    case OverwriteRule::Skip:
        return QStringLiteral("skip");
    case OverwriteRule::Rename:
        return QStringLiteral("rename");
    }
    return {};
}

QString displayName(OverwriteRule rule)
{
    switch (rule) {
    case OverwriteRule::Ask:
        return QStringLiteral("Ask each time");
    case OverwriteRule::Overwrite:
        return QStringLiteral("Overwrite");
    case OverwriteRule::Skip:
        return QStringLiteral("Skip");
    case OverwriteRule::Rename:
        return QStringLiteral("Auto-rename");
    }
    return {};
}

QList<OverwriteRule> allOverwriteRules()
{
    return {OverwriteRule::Ask, OverwriteRule::Overwrite, OverwriteRule::Skip,
            OverwriteRule::Rename};
}

std::optional<OverwriteRule> overwriteRuleFromText(const QString& text)
{
    for (OverwriteRule rule : allOverwriteRules()) {
        if (toText(rule) == text)
            return rule;
    }
    return std::nullopt;
}

} // namespace qb
