#include "platform/host_name.h"

#include <QFile>
#include <QSysInfo>

namespace qb {

namespace {

// machine-info is a shell-style assignment list; values may be quoted.
QString prettyHostName(const QString& machineInfoPath)
{
    QFile file(machineInfoPath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    const QByteArray key = "PRETTY_HOSTNAME=";
    while (!file.atEnd()) {
        const QByteArray line = file.readLine(4096).trimmed();
        if (!line.startsWith(key))
            continue;
        QByteArray value = line.mid(key.size());
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.mid(1, value.size() - 2);
        return QString::fromUtf8(value).trimmed();
    }
    return {};
}

} // namespace

QString localizedHostName(const QString& machineInfoPath)
{
    const QString pretty = prettyHostName(machineInfoPath);
    if (!pretty.isEmpty())
        return pretty;
    return QSysInfo::machineHostName().trimmed();
}

} // namespace qb
