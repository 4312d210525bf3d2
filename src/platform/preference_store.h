#pragma once

#include <QObject>
#include <QString>
#include <QVariant>

#include <memory>
#include <mutex>
#include <optional>

class QSettings;

namespace qb {

// Key-value store of the user's preferences that tells an absent key from a stored one. Every
// view that shows a preference follows changed(), so a value written in one window shows in the
// others at once.
class PreferenceStore : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    virtual std::optional<QVariant> value(const QString& key) const = 0;
    // Emits changed(key) when the stored value differs from what was there, and saveFailed(key)
    // when it could not be written where it is kept.
    virtual void setValue(const QString& key, const QVariant& value) = 0;
    // The file the values are kept in; empty when there is none.
    virtual QString location() const { return {}; }

    // Typed readers: nothing when the key is absent or holds a value of another type. The
    // settings file keeps no types, so a text that spells a value of the type counts too.
    std::optional<QString> text(const QString& key) const;
    std::optional<qint64> integer(const QString& key) const;
    std::optional<double> number(const QString& key) const;
    std::optional<bool> boolean(const QString& key) const;

signals:
    // On the writer's thread, after the value is stored.
    void changed(const QString& key);
    // On the writer's thread: the value of `key` holds for this run only, since its file could not
    // be written.
    void saveFailed(const QString& key);
};

// QSettings of organization "halvorin", application "Quillbay", or a given ini file (tests).
// Safe to use from several threads.
class QSettingsPreferenceStore : public PreferenceStore
{
    Q_OBJECT

public:
    QSettingsPreferenceStore();
    explicit QSettingsPreferenceStore(const QString& iniFilePath);
    ~QSettingsPreferenceStore() override;

    std::optional<QVariant> value(const QString& key) const override;
    void setValue(const QString& key, const QVariant& value) override;
    QString location() const override;
    void sync();

private:
    void writeChanges();

    mutable std::mutex m_mutex;
    std::unique_ptr<QSettings> m_settings;
    bool m_writePending = false; // a write of the changes is on its way
    QString m_unwrittenKey;      // the latest key changed since the last write
};

} // namespace qb
