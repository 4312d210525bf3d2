#include "browsing/file_sort_order.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>
#include <numeric>
#include <vector>

namespace qb {

namespace {

// The locale's case-insensitive order of names. The "C" locale has no collation of its own, so
// there names compare by their case-folded text, which is what the collator does there too,
// only faster.
class NameOrder
{
public:
    NameOrder() : m_plain(QLocale().language() == QLocale::C)
    {
        m_collator.setCaseSensitivity(Qt::CaseInsensitive);
    }

    QString key(const QString& name) const { return m_plain ? name.toCaseFolded() : name; }
    int compare(const QString& keyA, const QString& keyB) const
    {
        return m_plain ? keyA.compare(keyB) : m_collator.compare(keyA, keyB);
    }

private:
    bool m_plain;
    QCollator m_collator;
};

// Extensions compare as plain text after canonical normalisation, not by the locale.
QString typeKey(const QString& name)
{
    return pathExtension(name).normalized(QString::NormalizationForm_C);
}

const QDateTime& distantPast()
{
    static const QDateTime past(QDate(1, 1, 1), QTime(0, 0), Qt::UTC);
    return past;
}

qint64 dateKey(const FileItem& item)
{
    if (!item.modifiedAt || !item.modifiedAt->isValid())
        return distantPast().toMSecsSinceEpoch();
    return item.modifiedAt->toMSecsSinceEpoch();
}

bool isNameOrder(FileSortOrder order)
{
    return order == FileSortOrder::NameAscending || order == FileSortOrder::NameDescending;
}

} // namespace

QString toText(FileSortOrder order)
{
    switch (order) {
    case FileSortOrder::NameAscending:
        return QStringLiteral("Name \u2191");
    case FileSortOrder::NameDescending:
        return QStringLiteral("Name \u2193");
    case FileSortOrder::SizeAscending:
        return QStringLiteral("Size \u2191");
    case FileSortOrder::SizeDescending:
        return QStringLiteral("Size \u2193");
    case FileSortOrder::DateAscending:
        return QStringLiteral("Date \u2191");
    case FileSortOrder::DateDescending:
        return QStringLiteral("Date \u2193");
    case FileSortOrder::Type:
        return QStringLiteral("Type");
    }
    return {};
}

std::optional<FileSortOrder> fileSortOrderFromText(const QString& text)
{
    for (FileSortOrder order : allFileSortOrders()) {
        if (toText(order) == text)
            return order;
    }
    return std::nullopt;
}

QList<FileSortOrder> allFileSortOrders()
{
    return {FileSortOrder::NameAscending, FileSortOrder::NameDescending,
            FileSortOrder::SizeAscending, FileSortOrder::SizeDescending,
            FileSortOrder::DateAscending, FileSortOrder::DateDescending,
            FileSortOrder::Type};
}

QString pathExtension(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return {};
    return name.mid(dot + 1).toLower();
}

bool areInIncreasingOrder(FileSortOrder order, const FileItem& a, const FileItem& b)
{
    if (a.isDirectory != b.isDirectory)
        return a.isDirectory;
    switch (order) {
    case FileSortOrder::NameAscending:
    case FileSortOrder::NameDescending: {
        const NameOrder names;
        const int c = names.compare(names.key(a.name), names.key(b.name));
        return order == FileSortOrder::NameAscending ? c < 0 : c > 0;
    }
    case FileSortOrder::SizeAscending:
        return a.size.value_or(0) < b.size.value_or(0);
    case FileSortOrder::SizeDescending:
        return a.size.value_or(0) > b.size.value_or(0);
    case FileSortOrder::DateAscending:
        return dateKey(a) < dateKey(b);
    case FileSortOrder::DateDescending:
        return dateKey(a) > dateKey(b);
    case FileSortOrder::Type:
        return typeKey(a.name) < typeKey(b.name);
    }
    return false;
}

void sortItems(QList<FileItem>& items, FileSortOrder order)
{
    const qsizetype count = items.size();
    std::vector<qsizetype> index(static_cast<size_t>(count));
    std::iota(index.begin(), index.end(), qsizetype(0));

    // Folders first: a stable partition keeps both groups in their input order.
    auto firstFile = std::stable_partition(index.begin(), index.end(),
                                           [&](qsizetype i) { return items.at(i).isDirectory; });

    auto sortGroup = [&](auto begin, auto end, auto less) {
        std::stable_sort(begin, end, less);
    };
    auto sortBoth = [&](auto less) {
        sortGroup(index.begin(), firstFile, less);
        sortGroup(firstFile, index.end(), less);
    };

    if (isNameOrder(order)) {
        const NameOrder names;
        std::vector<QString> keys(static_cast<size_t>(count));
        for (qsizetype i = 0; i < count; ++i)
            keys[size_t(i)] = names.key(items.at(i).name);
        if (order == FileSortOrder::NameAscending)
            sortBoth([&](qsizetype x, qsizetype y) {
                return names.compare(keys[size_t(x)], keys[size_t(y)]) < 0;
            });
        else
            sortBoth([&](qsizetype x, qsizetype y) {
                return names.compare(keys[size_t(x)], keys[size_t(y)]) > 0;
            });
    } else if (order == FileSortOrder::Type) {
        std::vector<QString> keys(static_cast<size_t>(count));
        for (qsizetype i = 0; i < count; ++i)
            keys[size_t(i)] = typeKey(items.at(i).name);
        sortBoth([&](qsizetype x, qsizetype y) { return keys[size_t(x)] < keys[size_t(y)]; });
    } else {
        const bool bySize =
            order == FileSortOrder::SizeAscending || order == FileSortOrder::SizeDescending;
        const bool ascending =
            order == FileSortOrder::SizeAscending || order == FileSortOrder::DateAscending;
        std::vector<qint64> keys(static_cast<size_t>(count));
        for (qsizetype i = 0; i < count; ++i)
            keys[size_t(i)] = bySize ? items.at(i).size.value_or(0) : dateKey(items.at(i));
        if (ascending)
            sortBoth([&](qsizetype x, qsizetype y) { return keys[size_t(x)] < keys[size_t(y)]; });
        else
            sortBoth([&](qsizetype x, qsizetype y) { return keys[size_t(x)] > keys[size_t(y)]; });
    }

    QList<FileItem> sorted;
    sorted.reserve(count);
    for (qsizetype i : index)
        sorted.append(std::move(items[i]));
    items = std::move(sorted);
}

QString toText(ViewMode mode)
{
    return mode == ViewMode::List ? QStringLiteral("list") : QStringLiteral("grid");
}

std::optional<ViewMode> viewModeFromText(const QString& text)
{
    if (text == QLatin1String("list"))
        return ViewMode::List;
    if (text == QLatin1String("grid"))
        return ViewMode::Grid;
    return std::nullopt;
}

} // namespace qb
