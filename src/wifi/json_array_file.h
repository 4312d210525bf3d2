#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace qb {

// One registry file: a compact JSON array read once at creation and rewritten whole and atomically
// on every change, readable by the user only (it may hold pairing tokens).
//
// A file that cannot be decoded counts as empty, and is moved aside (as
// "<name>.unreadable-<UTC time>") before the first save would replace it, so no history or pairing
// is silently lost. A file that is there but cannot be opened (another user's, after a run under
// sudo), or one whose folder cannot be written, is left exactly as it is for the whole run: it
// counts as empty (or as what could be read) and nothing is saved over it; problem() says why.
// Each save writes a hidden temporary of its own name beside the file, flushes it, renames it over
// the file and flushes the folder's entry, so that it survives a power cut once it returns; the
// temporary that a save cut off by a crash left goes when the file is read, and nothing else
// beside the file is ever removed. Where the file system keeps no permissions, saves go ahead.
// Failed saves are logged. Used by one thread at a time.
class JsonArrayFile
{
public:
    explicit JsonArrayFile(QString path);

    QString path() const { return m_path; }

    // Reads the file and decodes each element; one element that does not decode makes the whole
    // file count as empty. A missing file is simply empty.
    template <typename T>
    QList<T> load(const std::function<std::optional<T>(const QJsonObject&)>& decode)
    {
        QList<T> items;
        const std::optional<QJsonArray> array = readArray();
        if (!array)
            return items;
        for (const QJsonValue& value : *array) {
            std::optional<T> item = value.isObject() ? decode(value.toObject()) : std::nullopt;
            if (!item) {
                markUnreadable();
                return {};
            }
            items.append(std::move(*item));
        }
        return items;
    }

    // Writes the array; returns false (and logs why) when the file keeps its previous content.
    bool save(const QJsonArray& array);

    // Where the unreadable file was moved, once it has been (for tests and diagnostics).
    QString setAsidePath() const { return m_setAsidePath; }
    // Why this run leaves the file alone and saves nothing over it, for the user to read; empty
    // when saves go ahead. Known once the file was read.
    QString problem() const { return m_problem; }

private:
    std::optional<QJsonArray> readArray();
    void markUnreadable();
    bool setAsideUnreadable();
    void leaveAlone(const QString& why);
    void removeCutSaves() const;
    int restrictToUser(int fd);

    QString m_path;
    bool m_unreadable = false;
    QString m_setAsidePath;
    QString m_problem;
    bool m_warnedPermissions = false;
};

} // namespace qb
