#include "browsing/file_item_format.h"

#include "browsing/file_sort_order.h"
#include "ui_common/byte_count_format.h"

#include <QLocale>
#include <QRegularExpression>

namespace qb::FileItemFormat {

namespace {

const QString dash = QStringLiteral("\u2014");

// Qt has no medium date style; the locale's long date without the weekday and with the
// abbreviated month comes closest ("Jan 5, 2024", "5. Jan. 2024").
QString mediumDateFormat(const QLocale& locale)
{
    QString format = locale.dateFormat(QLocale::LongFormat);
    static const QRegularExpression weekday(QStringLiteral("d{4}[,.]?\\s*"));
    format.remove(weekday);
    format.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    return format.trimmed();
}

} // namespace

QString sizeText(const FileItem& item)
{
    if (item.isDirectory || !item.size)
        return dash;
    return formatByteCount(*item.size);
}

QString dateText(const FileItem& item)
{
    if (!item.modifiedAt || !item.modifiedAt->isValid())
        return dash;
    const QLocale locale;
    const QDateTime local = item.modifiedAt->toLocalTime();
    return locale.toString(local.date(), mediumDateFormat(locale)) + QLatin1Char(' ') +
           locale.toString(local.time(), QLocale::ShortFormat);
}

QString kindText(const FileItem& item)
{
    if (item.isDirectory)
        return QStringLiteral("Folder");
    return pathExtension(item.name).toUpper();
}

} // namespace qb::FileItemFormat
