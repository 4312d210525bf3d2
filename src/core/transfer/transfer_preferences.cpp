#include "core/transfer/transfer_preferences.h"

#include <algorithm>

namespace qb {

namespace {

const QString kDownloadFolder = QStringLiteral("downloadFolder");
const QString kOverwriteRule = QStringLiteral("overwriteRule");
const QString kParallelTransfers = QStringLiteral("parallelTransfers");
const QString kShowQuickAccess = QStringLiteral("showQuickAccess");

} // namespace

TransferPreferences::TransferPreferences(PreferenceStore& store) : m_store(store) {}

QString TransferPreferences::downloadFolder() const
{
    return m_store.text(kDownloadFolder).value_or(QString());
}

QString TransferPreferences::overwriteRuleText() const
{
    return m_store.text(kOverwriteRule).value_or(QStringLiteral("ask"));
}

OverwriteRule TransferPreferences::overwriteRule() const
{
    return overwriteRuleFromText(overwriteRuleText()).value_or(OverwriteRule::Ask);
}

int TransferPreferences::parallelTransfers() const
{
    const auto stored = m_store.integer(kParallelTransfers);
    if (!stored || *stored < minParallelTransfers || *stored > maxParallelTransfers)
        return defaultParallelTransfers;
    return static_cast<int>(*stored);
}

bool TransferPreferences::showQuickAccess() const
{
    return m_store.boolean(kShowQuickAccess).value_or(true);
}

void TransferPreferences::setDownloadFolder(const QString& folder)
{
    m_store.setValue(kDownloadFolder, folder);
}

void TransferPreferences::setOverwriteRule(OverwriteRule rule)
{
    m_store.setValue(kOverwriteRule, toText(rule));
}

void TransferPreferences::setParallelTransfers(int count)
{
    m_store.setValue(kParallelTransfers,
                     std::clamp(count, minParallelTransfers, maxParallelTransfers));
}

void TransferPreferences::setShowQuickAccess(bool show)
{
    m_store.setValue(kShowQuickAccess, show);
}

} // namespace qb
