#pragma once

#include "core/device/file_repository.h"
#include "platform/futures.h"
#include "support/test_support.h"

#include <QApplication>
#include <QHash>
#include <QPromise>
#include <QStringList>
#include <QTest>

#include <memory>

namespace qb::test {

using WidgetApplicationEnvironment = ApplicationEnvironment<QApplication>;

// A phone whose listings stay open until the test answers them, in any order; every other
// operation succeeds at once or fails as told. Calls are logged.
class GatedRepository : public FileRepository
{
public:
    QStringList calls;
    QHash<QString, std::exception_ptr> failures; // operation name -> error

    // Listings answered at once instead of held, by folder path.
    QHash<QString, QList<FileItem>> ready;

    QFuture<QList<FileItem>> listFiles(const QString& folderPath) override
    {
        calls.append("list " + folderPath);
        if (ready.contains(folderPath))
            return readyFuture(ready.value(folderPath));
        auto promise = std::make_shared<QPromise<QList<FileItem>>>();
        promise->start();
        m_open.append({folderPath, promise});
        return promise->future();
    }
    // Answers the oldest open listing of the folder.
    void answer(const QString& folderPath, const QList<FileItem>& items)
    {
        auto promise = take(folderPath);
        promise->addResult(items);
        promise->finish();
    }
    void fail(const QString& folderPath, std::exception_ptr error)
    {
        auto promise = take(folderPath);
        promise->setException(error);
        promise->finish();
    }
    qsizetype openListings() const { return m_open.size(); }

    QFuture<void> downloadFile(const QString& path, const QString& to, ProgressFn) override
    {
        return done("download " + path + " " + to, "download");
    }
    QFuture<void> uploadFile(const QString& from, const QString& folder, ProgressFn) override
    {
        return done("upload " + from + " " + folder, "upload");
    }
    QFuture<void> createFolder(const QString& name, const QString& parent) override
    {
        return done("create " + name + " " + parent, "create");
    }
    QFuture<void> deleteItem(const QString& path) override
    {
        return done("delete " + path, "delete");
    }
    QFuture<void> renameItem(const QString& path, const QString& name) override
    {
        return done("rename " + path + " " + name, "rename");
    }
    QFuture<void> moveItem(const QString& path, const QString& folder) override
    {
        return done("move " + path + " " + folder, "move");
    }
    void forgetListing(const QString& folderPath) override { calls.append("forget " + folderPath); }

private:
    using Promise = std::shared_ptr<QPromise<QList<FileItem>>>;

    Promise take(const QString& folderPath)
    {
        for (qsizetype i = 0; i < m_open.size(); ++i) {
            if (m_open.at(i).first == folderPath)
                return m_open.takeAt(i).second;
        }
        ADD_FAILURE() << "no open listing of " << folderPath.toStdString();
        auto promise = std::make_shared<QPromise<QList<FileItem>>>();
        promise->start();
        return promise;
    }
    QFuture<void> done(const QString& call, const QString& operation)
    {
        calls.append(call);
        if (auto error = failures.value(operation))
            return failedFuture<void>(error);
        return readyFuture();
    }

    QList<std::pair<QString, Promise>> m_open;
};

inline FileItem file(const QString& id, const QString& name, std::optional<qint64> size = {},
                     std::optional<QDateTime> date = {})
{
    return FileItem{id, name, id, false, size, date, {}};
}

inline FileItem folder(const QString& id, const QString& name)
{
    return FileItem{id, name, id, true, {}, {}, {}};
}

inline QStringList namesOf(const QList<FileItem>& items)
{
    QStringList names;
    for (const auto& item : items)
        names.append(item.name);
    return names;
}

} // namespace qb::test
