#include "platform/preference_store.h"

#include <QSettings>

#include <utility>

namespace qb {

namespace {

bool isNumeric(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
        return true;
    default:
        return false;
    }
}

bool isText(const QVariant& v)
{
    return v.typeId() == QMetaType::QString || v.typeId() == QMetaType::QByteArray;
}

} // namespace

std::optional<QString> PreferenceStore::text(const QString& key) const
{
    const auto v = value(key);
    if (!v || !isText(*v))
        return std::nullopt;
    return v->toString();
}

std::optional<qint64> PreferenceStore::integer(const QString& key) const
{
    const auto v = value(key);
    if (!v)
        return std::nullopt;
    bool ok = false;
    qint64 result = 0;
    if (v->typeId() == QMetaType::Double || v->typeId() == QMetaType::Float) {
        const double d = v->toDouble();
        // Only whole numbers in range; a fraction is not an integer setting.
        if (d != d || d < -9.2e18 || d > 9.2e18 || static_cast<double>(qint64(d)) != d)
            return std::nullopt;
        return qint64(d);
    }
    if (isNumeric(*v))
        result = v->toLongLong(&ok);
    else if (isText(*v))
        result = v->toString().trimmed().toLongLong(&ok, 10);
    if (!ok)
        return std::nullopt;
    return result;
}

std::optional<double> PreferenceStore::number(const QString& key) const
{
    const auto v = value(key);
    if (!v)
        return std::nullopt;
    bool ok = false;
    double result = 0;
    if (isNumeric(*v))
        result = v->toDouble(&ok);
    else if (isText(*v))
        result = v->toString().trimmed().toDouble(&ok);
    if (!ok)
        return std::nullopt;
    return result;
}

std::optional<bool> PreferenceStore::boolean(const QString& key) const
{
    const auto v = value(key);
    if (!v)
        return std::nullopt;
    if (v->typeId() == QMetaType::Bool)
        return v->toBool();
    if (isText(*v)) {
        const QString t = v->toString();
        if (t == QLatin1String("true"))
            return true;
        if (t == QLatin1String("false"))
            return false;
    }
    return std::nullopt;
}

QSettingsPreferenceStore::QSettingsPreferenceStore()
    : m_settings(
          std::make_unique<QSettings>(QStringLiteral("halvorin"), QStringLiteral("Quillbay")))
{}

QSettingsPreferenceStore::QSettingsPreferenceStore(const QString& iniFilePath)
    : m_settings(std::make_unique<QSettings>(iniFilePath, QSettings::IniFormat))
{}

QSettingsPreferenceStore::~QSettingsPreferenceStore() = default;

std::optional<QVariant> QSettingsPreferenceStore::value(const QString& key) const
{
    std::lock_guard lock(m_mutex);
    if (!m_settings->contains(key))
        return std::nullopt;
    return m_settings->value(key);
}

void QSettingsPreferenceStore::setValue(const QString& key, const QVariant& value)
{
    bool writeLater = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_settings->contains(key) && m_settings->value(key) == value)
            return;
        m_settings->setValue(key, value);
        m_unwrittenKey = key;
        writeLater = !std::exchange(m_writePending, true);
    }
    emit changed(key);
    // Written once the burst of changes is over (a slider sends one a step), not at the quit: a
    // file that cannot be written (another user's, after a run under sudo) is known then, while
    // the change can still be told about.
    if (writeLater)
        QMetaObject::invokeMethod(this, &QSettingsPreferenceStore::writeChanges,
                                  Qt::QueuedConnection);
}

void QSettingsPreferenceStore::writeChanges()
{
    QString key;
    bool saved = true;
    {
        std::lock_guard lock(m_mutex);
        m_writePending = false;
        key = std::exchange(m_unwrittenKey, QString());
        m_settings->sync();
        saved = m_settings->status() == QSettings::NoError;
    }
    if (!saved)
        emit saveFailed(key);
}

QString QSettingsPreferenceStore::location() const
{
    std::lock_guard lock(m_mutex);
    return m_settings->fileName();
}

void QSettingsPreferenceStore::sync()
{
    std::lock_guard lock(m_mutex);
    m_settings->sync();
}

} // namespace qb
