#pragma once

#include "core/transfer/overwrite_rule.h"
#include "platform/preference_store.h"

#include <QString>

namespace qb {

// Reads and writes the four stored transfer preferences. A key stays absent until written;
// every reader applies the default when it is absent or holds a value of another type, and
// such a value is left as it is.
class TransferPreferences
{
public:
    static constexpr int defaultParallelTransfers = 2;
    static constexpr int minParallelTransfers = 1;
    static constexpr int maxParallelTransfers = 8;

    explicit TransferPreferences(PreferenceStore& store);

    QString downloadFolder() const;      // "" (the user's Downloads folder)
    QString overwriteRuleText() const;   // "ask"; raw text, the engine parses it
    OverwriteRule overwriteRule() const; // the parsed text; a text that is no rule counts as Ask
    int parallelTransfers() const;       // 2; a value outside 1...8 also reads as 2
    bool showQuickAccess() const;        // true

    void setDownloadFolder(const QString& folder);
    void setOverwriteRule(OverwriteRule rule);
    void setParallelTransfers(int count); // kept within 1...8
    void setShowQuickAccess(bool show);

private:
    PreferenceStore& m_store;
};

} // namespace qb
