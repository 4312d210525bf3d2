#include "browsing/computer_pane_relist.h"

#include "core/transfer/transfer_queue_view_model.h"
#include "platform/when_finished.h"
#include "wifi/received_files_registry.h"

#include <QDir>
#include <QFileInfo>
#include <QtConcurrent>

#include <algorithm>
#include <chrono>

namespace qb {

QString comparableFolder(const QString& path)
{
    if (path.isEmpty())
        return {}; // QFileInfo would take the working folder
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

namespace {

// The file's folder is the one shown, or sits in it: saving may have made that folder, which
// then appears there too.
bool savedWithin(const QString& folder, const QString& comparable)
{
    const QString saved = comparableFolder(folder);
    return saved == comparable || comparableFolder(QFileInfo(saved).path()) == comparable;
}

} // namespace

bool jobWroteInto(const TransferJob& job, const QString& comparable)
{
    if (comparable.isEmpty() || job.type != TransferType::Download ||
        job.status != TransferStatus::Completed || !job.destination.url.isLocalFile())
        return false;
    return savedWithin(job.destination.url.toLocalFile(), comparable);
}

bool receivedInto(const ReceivedFile& file, const QString& comparable)
{
    if (comparable.isEmpty() || !file.url.isLocalFile())
        return false;
    return savedWithin(QFileInfo(file.url.toLocalFile()).absolutePath(), comparable);
}

FolderRelistTrigger::FolderRelistTrigger(TransferQueueViewModel* transfers,
                                         ReceivedFilesRegistry* received,
                                         std::function<QString()> folder, QObject* parent)
    : QObject(parent), m_received(received), m_folder(std::move(folder))
{
    using namespace std::chrono_literals;
    m_delay.setSingleShot(true);
    m_delay.setInterval(250ms);
    connect(&m_delay, &QTimer::timeout, this, &FolderRelistTrigger::relistDue);
    if (transfers) {
        connect(transfers, &TransferQueueViewModel::jobsCompleted, this,
                &FolderRelistTrigger::jobsCompleted);
    }
    if (m_received) {
        const QList<ReceivedFile> files = m_received->files();
        if (!files.isEmpty())
            m_latestReceived = files.first().id;
        connect(m_received, &ReceivedFilesRegistry::filesChanged, this,
                &FolderRelistTrigger::receivedChanged);
    }
}

void FolderRelistTrigger::jobsCompleted(const QList<TransferJob>& jobs)
{
    if (isPending())
        return;
    for (const TransferJob& job : jobs) {
        // Only a completed download writes here; the rest need no look at the file system.
        if (job.type == TransferType::Download && job.status == TransferStatus::Completed &&
            job.destination.url.isLocalFile())
            m_jobsToCheck.append(job);
    }
    startCheck();
}

void FolderRelistTrigger::receivedChanged()
{
    // Records are added at the front: those before the newest one seen are the new ones. A list
    // replaced as a whole is looked at whole.
    const QList<ReceivedFile> files = m_received->files();
    const QUuid seen =
        std::exchange(m_latestReceived, files.isEmpty() ? QUuid() : files.first().id);
    if (isPending())
        return;
    for (const ReceivedFile& file : files) {
        if (!seen.isNull() && file.id == seen)
            break;
        m_filesToCheck.append(file);
    }
    startCheck();
}

void FolderRelistTrigger::startCheck()
{
    if (m_jobsToCheck.isEmpty() && m_filesToCheck.isEmpty())
        return;
    const QString folder = m_folder();
    // The check under way takes the files waiting when it ends; one that hangs on a folder no
    // longer shown is left behind.
    if (m_checking && m_checkedFolder == folder)
        return;
    m_checking = true;
    m_checkedFolder = folder;
    const quint64 generation = ++m_checkGeneration;
    QFuture<bool> wrote = QtConcurrent::run([folder, jobs = std::exchange(m_jobsToCheck, {}),
                                             files = std::exchange(m_filesToCheck, {})] {
        const QString comparable = comparableFolder(folder);
        return std::ranges::any_of(
                   jobs, [&](const TransferJob& job) { return jobWroteInto(job, comparable); }) ||
               std::ranges::any_of(
                   files, [&](const ReceivedFile& file) { return receivedInto(file, comparable); });
    });
    whenFinished(this, wrote, [this, generation](const QFuture<bool>& done) {
        if (generation != m_checkGeneration)
            return;
        m_checking = false;
        if (done.resultCount() > 0 && done.result()) {
            // The relisting shows whatever else came meanwhile too.
            m_jobsToCheck.clear();
            m_filesToCheck.clear();
            request();
            return;
        }
        startCheck();
    });
}

void FolderRelistTrigger::request()
{
    if (!m_delay.isActive())
        m_delay.start();
}

} // namespace qb
