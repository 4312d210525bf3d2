#include "wifi/pending_outgoing_files_registry.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTimer>

#include "wifi/wire_format.h"

namespace qb {

namespace {

QString lastPathComponent(const QUrl& url)
{
    QString path = url.path();
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

PendingOutgoingFilesRegistry::PendingOutgoingFilesRegistry(QObject* parent)
    : QObject(parent), m_clock([] { return QDateTime::currentDateTimeUtc(); }),
      m_scheduler([this](std::chrono::milliseconds delay, std::function<void()> task) {
          QTimer::singleShot(delay, this, std::move(task));
      }),
      m_gate(this)
{}

PendingOutgoingFilesRegistry& PendingOutgoingFilesRegistry::shared()
{
    // Kept for the life of the process; connection threads may still hold it at exit.
    static PendingOutgoingFilesRegistry* const instance = new PendingOutgoingFilesRegistry();
    return *instance;
}

void PendingOutgoingFilesRegistry::setFiles(const QList<PendingOutgoingFile>& files)
{
    changeFiles(files);
    forgetTokensOfRemovedFiles();
}

void PendingOutgoingFilesRegistry::forgetTokensOfRemovedFiles()
{
    for (auto it = m_recipientTokens.begin(); it != m_recipientTokens.end();) {
        if (indexOf(it.key()) < 0)
            it = m_recipientTokens.erase(it);
        else
            ++it;
    }
}

void PendingOutgoingFilesRegistry::changeFiles(QList<PendingOutgoingFile> files)
{
    if (m_files == files)
        return;
    m_files = std::move(files);
    emit filesChanged();
}

int PendingOutgoingFilesRegistry::indexOf(const QUuid& id) const
{
    for (int i = 0; i < m_files.size(); ++i) {
        if (m_files[i].id == id)
            return i;
    }
    return -1;
}

void PendingOutgoingFilesRegistry::enqueue(const QUrl& url, const QString& recipientHost,
                                           const QString& recipientToken)
{
    // Only the size is looked at; the file may change or vanish before the phone fetches it.
    const QFileInfo info(url.toLocalFile());
    const qint64 size = info.exists() ? info.size() : 0;
    const QUuid id = QUuid::createUuid();
    if (!recipientToken.isEmpty())
        m_recipientTokens.insert(id, recipientToken);
    QList<PendingOutgoingFile> files = m_files;
    files.append(PendingOutgoingFile{id, url, recipientHost, m_clock(), size, 0,
                                     SendStatus::Waiting, std::nullopt});
    changeFiles(std::move(files));
}

void PendingOutgoingFilesRegistry::cancel(const QUuid& id)
{
    if (!m_cancelledIDs.contains(id)) {
        m_cancelledIDs.insert(id);
        emit cancelledIDsChanged();
    }
    remove(id);
}

QList<PendingOutgoingFile> PendingOutgoingFilesRegistry::filesFor(const QString& host) const
{
    QList<PendingOutgoingFile> result;
    for (const PendingOutgoingFile& file : m_files) {
        if (file.recipientHost == host)
            result.append(file);
    }
    return result;
}

std::optional<PendingOutgoingFile> PendingOutgoingFilesRegistry::file(const QString& idString) const
{
    const std::optional<QUuid> id = wire::uuidFromText(idString);
    if (!id)
        return std::nullopt;
    const int index = indexOf(*id);
    if (index < 0)
        return std::nullopt;
    return m_files[index];
}

void PendingOutgoingFilesRegistry::updateStatus(const QUuid& id, SendStatus status)
{
    const int index = indexOf(id);
    if (index < 0)
        return;
    QList<PendingOutgoingFile> files = m_files;
    files[index].status = status;
    if (status == SendStatus::Sending && !files[index].sendStartedAt)
        files[index].sendStartedAt = m_clock();
    changeFiles(std::move(files));
}

void PendingOutgoingFilesRegistry::updateProgress(const QUuid& id, qint64 sentBytes)
{
    const int index = indexOf(id);
    if (index < 0)
        return;
    QList<PendingOutgoingFile> files = m_files;
    files[index].sentBytes = sentBytes;
    changeFiles(std::move(files));
}

void PendingOutgoingFilesRegistry::remove(const QUuid& id)
{
    QList<PendingOutgoingFile> files = m_files;
    files.removeIf([&id](const PendingOutgoingFile& file) { return file.id == id; });
    m_recipientTokens.remove(id);
    changeFiles(std::move(files));
}

void PendingOutgoingFilesRegistry::removeIfStill(const QUuid& id, SendStatus status)
{
    const int index = indexOf(id);
    if (index >= 0 && m_files[index].status == status)
        remove(id);
}

void PendingOutgoingFilesRegistry::followPhone(const QString& token, const QString& to)
{
    // By the phone, not by its old address: another phone may have answered there since.
    if (token.isEmpty())
        return;
    QList<PendingOutgoingFile> files = m_files;
    for (PendingOutgoingFile& file : files) {
        if (m_recipientTokens.value(file.id) == token)
            file.recipientHost = to;
    }
    changeFiles(std::move(files));
}

void PendingOutgoingFilesRegistry::passOnFiles(const QString& from, const QString& to)
{
    for (auto it = m_recipientTokens.begin(); it != m_recipientTokens.end();) {
        if (it.value() != from) {
            ++it;
        } else if (to.isEmpty()) {
            it = m_recipientTokens.erase(it);
        } else {
            it.value() = to;
            ++it;
        }
    }
}

void PendingOutgoingFilesRegistry::clearCancellation(const QUuid& id)
{
    if (m_cancelledIDs.remove(id))
        emit cancelledIDsChanged();
}

bool PendingOutgoingFilesRegistry::isFor(const PendingOutgoingFile& file, const QString& host,
                                         const QString& phoneToken) const
{
    // By the phone, not by the address: another phone may have taken this one's old address.
    const QString recipient = m_recipientTokens.value(file.id);
    return recipient.isEmpty() ? file.recipientHost == host : recipient == phoneToken;
}

QList<OfferedFile> PendingOutgoingFilesRegistry::offeredTo(const QString& host,
                                                           const QString& phoneToken) const
{
    QList<OfferedFile> offered;
    for (const PendingOutgoingFile& file : m_files) {
        if (isFor(file, host, phoneToken))
            offered.append(
                OfferedFile{wire::uuidText(file.id), lastPathComponent(file.url), file.bytes});
    }
    return offered;
}

std::optional<QUrl> PendingOutgoingFilesRegistry::downloadURL(const QString& idString,
                                                              const QString& host,
                                                              const QString& phoneToken) const
{
    const std::optional<PendingOutgoingFile> found = file(idString);
    if (!found || !isFor(*found, host, phoneToken))
        return std::nullopt;
    return found->url;
}

void PendingOutgoingFilesRegistry::markSending(const QString& idString)
{
    if (const std::optional<QUuid> id = wire::uuidFromText(idString))
        m_gate.post([this, id = *id] { updateStatus(id, SendStatus::Sending); });
}

void PendingOutgoingFilesRegistry::updateProgress(const QString& idString, qint64 sentBytes)
{
    if (const std::optional<QUuid> id = wire::uuidFromText(idString))
        m_gate.post([this, id = *id, sentBytes] { updateProgress(id, sentBytes); });
}

void PendingOutgoingFilesRegistry::clearCancellation(const QString& idString)
{
    if (const std::optional<QUuid> id = wire::uuidFromText(idString))
        m_gate.post([this, id = *id] { clearCancellation(id); });
}

void PendingOutgoingFilesRegistry::finishAndRemoveLater(const QString& idString, SendStatus status,
                                                        std::chrono::milliseconds delay)
{
    const std::optional<QUuid> id = wire::uuidFromText(idString);
    if (!id)
        return;
    m_gate.post([this, id = *id, status, delay] {
        updateStatus(id, status);
        // The final status stays visible for a moment before the entry leaves the list. The phone
        // may fetch it again meanwhile; that fetch's own report decides when it leaves.
        m_scheduler(delay, [this, id, status] { removeIfStill(id, status); });
    });
}

void PendingOutgoingFilesRegistry::markCompleted(const QString& idString)
{
    finishAndRemoveLater(idString, SendStatus::Completed, kCompletedRemovalDelay);
}

void PendingOutgoingFilesRegistry::markFailed(const QString& idString)
{
    finishAndRemoveLater(idString, SendStatus::Failed, kFailedRemovalDelay);
}

void PendingOutgoingFilesRegistry::isCancelled(const QString& idString, QObject* context,
                                               std::function<void(bool)> done, int timeoutMs)
{
    m_gate.ask<bool>(
        [this, idString] {
            const std::optional<QUuid> id = wire::uuidFromText(idString);
            return id && m_cancelledIDs.contains(*id);
        },
        false, context, std::move(done), timeoutMs);
}

void PendingOutgoingFilesRegistry::listForHostTask(const QString& host, AskingPhone phone,
                                                   QObject* context,
                                                   std::function<void(QList<OfferedFile>)> done,
                                                   int timeoutMs)
{
    m_gate.ask<QList<OfferedFile>>(
        [this, host, phone = std::move(phone)] {
            const std::optional<QString> token = phone();
            return token ? offeredTo(host, *token) : QList<OfferedFile>{};
        },
        {}, context, std::move(done), timeoutMs);
}

void PendingOutgoingFilesRegistry::downloadURLTask(const QString& idString, const QString& host,
                                                   AskingPhone phone, QObject* context,
                                                   std::function<void(std::optional<QUrl>)> done,
                                                   int timeoutMs)
{
    m_gate.ask<std::optional<QUrl>>(
        [this, idString, host, phone = std::move(phone)]() -> std::optional<QUrl> {
            const std::optional<QString> token = phone();
            return token ? downloadURL(idString, host, *token) : std::nullopt;
        },
        std::nullopt, context, std::move(done), timeoutMs);
}

} // namespace qb
