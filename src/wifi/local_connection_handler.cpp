#include "wifi/local_connection_handler.h"

#include "platform/local_files.h"
#include "wifi/http_reply.h"
#include "wifi/main_thread_gate.h"
#include "wifi/wifi_server_backend.h"

#include <QSocketNotifier>

#include <cerrno>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace qb {
namespace {

constexpr qint64 kReadBufferSize = 256 * 1024;
// Bytes read per wake-up, so that one fast sender does not starve the thread's other
// connections.
constexpr qint64 kMaxReadPerWakeup = 16 * 1024 * 1024;
// Bodies of the routes that take no file are small JSON; more than this is not kept.
constexpr qint64 kMaxBufferedBody = 64 * 1024;

std::vector<char>& readBuffer()
{
    thread_local std::vector<char> buffer(kReadBufferSize);
    return buffer;
}

} // namespace

LocalConnectionHandler::LocalConnectionHandler(int fd, QString host,
                                               const ConnectionEnvironment& environment,
                                               QObject* parent)
    : QObject(parent), m_fd(fd), m_env(environment),
      m_log(QStringLiteral("WiFiAdvertiser.Conn"), true), m_host(std::move(host))
{
    m_idleTimer.setSingleShot(true);
    m_drainTimer.setSingleShot(true);
    m_requestTimer.setSingleShot(true);
}

LocalConnectionHandler::~LocalConnectionHandler()
{
    if (!m_didFinish) {
        m_didFinish = true;
        if (m_readNotifier) {
            m_readNotifier->setEnabled(false);
        }
        if (m_writeNotifier) {
            m_writeNotifier->setEnabled(false);
        }
        ::close(m_fd);
    }
    if (m_fileFd >= 0) {
        ::close(m_fileFd);
    }
}

void LocalConnectionHandler::start()
{
    m_readNotifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    m_writeNotifier = new QSocketNotifier(m_fd, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &LocalConnectionHandler::onReadable);
    connect(m_writeNotifier, &QSocketNotifier::activated, this,
            &LocalConnectionHandler::onWritable);
    connect(&m_idleTimer, &QTimer::timeout, this, [this] {
        // Activity only stamps the time; the timer is moved here, not on every read and write.
        const qint64 quiet = m_activity.elapsed();
        if (quiet < m_env.idleTimeoutMs) {
            m_idleTimer.start(int(m_env.idleTimeoutMs - quiet));
            return;
        }
        if (m_phase == Phase::Downloading && m_pump) {
            m_pump->readFailed(QStringLiteral("no progress for %1 ms").arg(m_env.idleTimeoutMs));
            return;
        }
        if (m_phase != Phase::Closing) {
            m_log.info(QStringLiteral("Closing idle connection from %1"), {m_host});
        }
        finish();
    });
    connect(&m_drainTimer, &QTimer::timeout, this, &LocalConnectionHandler::finish);
    connect(&m_requestTimer, &QTimer::timeout, this, &LocalConnectionHandler::onRequestTimer);
    m_activity.start();
    m_idleTimer.start(m_env.idleTimeoutMs);
    m_requestTimer.start(m_env.headTimeoutMs);
}

void LocalConnectionHandler::onRequestTimer()
{
    // Each byte restarts only the idle time-out: without these bounds a host trickling a byte at a
    // time would hold its connection for as long as it liked.
    switch (m_phase) {
    case Phase::ReadingHead:
        m_log.info(QStringLiteral("Closing connection from %1: no request within %2 ms"),
                   {m_host, QString::number(m_env.headTimeoutMs)});
        finish();
        return;
    case Phase::ReadingBody:
    case Phase::Uploading:
        if (m_bodyReceived - m_bodyAtWindowStart < m_env.minBodyBytesPerWindow) {
            m_log.info(QStringLiteral("Closing connection from %1: its body brought %2 bytes "
                                      "in %3 ms"),
                       {m_host, QString::number(m_bodyReceived - m_bodyAtWindowStart),
                        QString::number(m_env.bodyRateWindowMs)});
            finish();
            return;
        }
        m_bodyAtWindowStart = m_bodyReceived;
        m_requestTimer.start(m_env.bodyRateWindowMs);
        return;
    default:
        return;
    }
}

void LocalConnectionHandler::markRequestReceived()
{
    if (m_requestReceived) {
        return;
    }
    m_requestReceived = true;
    m_requestTimer.stop();
    emit requestReceived();
}

void LocalConnectionHandler::evict()
{
    if (m_requestReceived || m_didFinish) {
        return;
    }
    m_log.info(QStringLiteral("Closing connection from %1: its request is unfinished and every "
                              "connection is taken"),
               {m_host});
    abort();
}

void LocalConnectionHandler::touch()
{
    m_activity.start();
}

void LocalConnectionHandler::onReadable()
{
    std::vector<char>& buffer = readBuffer();
    qint64 budget = kMaxReadPerWakeup;
    while (!m_didFinish && !m_peerClosed && budget > 0) {
        const ssize_t received = ::recv(m_fd, buffer.data(), buffer.size(), 0);
        if (received > 0) {
            touch();
            budget -= received;
            handleBytes(buffer.data(), received);
            continue;
        }
        if (received == 0) {
            onPeerClosed();
            return;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            onReadError(LocalFiles::errnoText(errno));
        }
        return;
    }
}

void LocalConnectionHandler::handleBytes(const char* data, qint64 size)
{
    switch (m_phase) {
    case Phase::ReadingHead: {
        const qsizetype previous = m_buffer.size();
        m_buffer.append(data, size);
        // Only the newly arrived bytes (and three before them) can complete the blank line.
        if (m_buffer.indexOf("\r\n\r\n", std::max<qsizetype>(0, previous - 3)) < 0 &&
            m_buffer.size() <= kMaxRequestHeadBytes + 3) {
            return;
        }
        const HttpParseResult result = parseRequestHead(m_buffer);
        if (result.status == HttpParseResult::Status::BadRequest) {
            m_buffer.clear();
            sendText(400, QStringLiteral("Bad Request"));
            return;
        }
        const QByteArray rest = m_buffer.mid(result.head.headLength);
        m_buffer.clear();
        onHeadComplete(result.head, rest);
        return;
    }
    case Phase::ReadingBody: {
        const qint64 take = std::min(size, m_head.contentLength - m_bodyReceived);
        if (m_buffer.size() + take <= kMaxBufferedBody) {
            m_buffer.append(data, take);
        }
        m_bodyReceived += take;
        emit bodyProgress(m_bodyReceived);
        if (m_bodyReceived == m_head.contentLength) {
            if (m_bodyReceived > kMaxBufferedBody) {
                m_buffer.clear();
            }
            dispatch();
        }
        return;
    }
    case Phase::Uploading: {
        const qint64 take = std::min(size, m_head.contentLength - m_bodyReceived);
        if (!m_upload->write(data, take)) {
            m_upload.reset();
            sendText(500, QStringLiteral("Failed to write file"));
            return;
        }
        m_bodyReceived += take;
        emit bodyProgress(m_bodyReceived);
        if (m_bodyReceived == m_head.contentLength) {
            finishUpload();
        }
        return;
    }
    case Phase::Dispatched:
    case Phase::Downloading:
    case Phase::Closing:
        // One request per connection: whatever follows it is read and dropped.
        return;
    }
}

void LocalConnectionHandler::onHeadComplete(const HttpRequestHead& head, QByteArrayView rest)
{
    m_head = head;
    m_route = RequestRouter::routeFor(head.method, head.path);
    m_bodyReceived = 0;
    m_bodyAtWindowStart = 0;
    m_requestTimer.start(m_env.bodyRateWindowMs);
    emit headReceived();
    // A file body whose end cannot be known must not be saved as an empty file.
    if (m_route == RequestRouter::Route::Upload && head.hasTransferEncoding) {
        sendText(411, QStringLiteral("Length Required"));
        return;
    }
    if (m_route == RequestRouter::Route::Upload && head.contentLengthMalformed) {
        sendText(400, QStringLiteral("Bad Request"));
        return;
    }
    if (m_route == RequestRouter::Route::Upload) {
        // An upload streams to disk as it arrives instead of waiting for its whole body.
        dispatch();
    } else if (head.contentLength == 0) {
        dispatch();
        return;
    } else {
        m_phase = Phase::ReadingBody;
    }
    if (!rest.isEmpty() && !m_didFinish) {
        handleBytes(rest.data(), rest.size());
    }
}

void LocalConnectionHandler::dispatch()
{
    m_phase = Phase::Dispatched;
    if (m_route != RequestRouter::Route::Upload) {
        markRequestReceived();
    }
    const QString host = m_host.isEmpty() ? QStringLiteral("unknown") : m_host;
    m_env.router->recordRequest(m_head.method, m_head.path, host, m_head.deviceName, m_buffer);
    const QByteArray body = std::exchange(m_buffer, QByteArray());
    switch (m_route) {
    case RequestRouter::Route::Upload:
        beginUpload();
        return;
    case RequestRouter::Route::Download:
        handleDownload(m_head.path);
        return;
    default:
        m_env.router->handle(m_route, host, body, *this);
        return;
    }
}

void LocalConnectionHandler::onPeerClosed()
{
    m_peerClosed = true;
    m_readNotifier->setEnabled(false);
    switch (m_phase) {
    case Phase::Downloading:
        // A phone that closes only its sending side still reads the file; one that is really
        // gone shows up as a failed send. Either way the download ends by what was sent.
        return;
    case Phase::Dispatched:
        // A phone may close its sending side and still wait for the reply being prepared. Not
        // for a PIN check still unanswered: it issues a token that replaces the phone's current
        // one, and a phone that hung up would never receive it; the question is given up.
        if (m_route == RequestRouter::Route::Pair && !m_replied)
            finish();
        return;
    default:
        finish();
        return;
    }
}

void LocalConnectionHandler::onReadError(const QString& error)
{
    if (m_phase == Phase::Downloading) {
        m_pump->readFailed(error);
        return;
    }
    if (m_phase != Phase::Closing) {
        m_log.error(QStringLiteral("recv error: %1"), {error});
    }
    finish();
}

void LocalConnectionHandler::sendText(int status, const QString& text)
{
    if (m_replied || m_didFinish) {
        return;
    }
    m_replied = true;
    m_phase = Phase::Dispatched;
    markRequestReceived();
    queue({Output::Kind::Reply, HttpReply::text(status, text)});
}

void LocalConnectionHandler::sendJSON(const QJsonObject& object)
{
    if (m_replied || m_didFinish) {
        return;
    }
    m_replied = true;
    m_phase = Phase::Dispatched;
    markRequestReceived();
    // Both routes answer in JSON only when the phone's PIN or token checked out.
    if (m_route == RequestRouter::Route::Pair || m_route == RequestRouter::Route::Reconnect)
        emit tokenAccepted();
    queue({Output::Kind::Reply, HttpReply::json(object)});
}

void LocalConnectionHandler::queue(Output output)
{
    m_output.push_back(std::move(output));
    flush();
}

void LocalConnectionHandler::onWritable()
{
    flush();
}

void LocalConnectionHandler::flush()
{
    if (m_flushing) {
        return; // a completion queued more; the running loop sends it
    }
    m_flushing = true;
    while (!m_output.empty() && !m_didFinish) {
        Output& front = m_output.front();
        ssize_t sent = 0;
        if (front.kind == Output::Kind::Chunk) {
            // The file is sent from the open file, not from a copy: a version written meanwhile
            // would reach the phone as a mix of two. Checked before each piece of the last chunk,
            // so the phone sees a short body instead.
            if (front.lastChunk && downloadFileRewritten()) {
                m_pump->fileChanged();
                break;
            }
            off_t offset = front.fileOffset + front.done;
            sent = ::sendfile(m_fd, m_fileFd, &offset, size_t(front.length - front.done));
            if (sent == 0) {
                errno = EIO; // the file got shorter than the length we announced
                sent = -1;
            }
        } else {
            sent = ::send(m_fd, front.bytes.constData() + front.done,
                          size_t(front.bytes.size() - front.done), MSG_NOSIGNAL);
        }
        QString error;
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                m_writeNotifier->setEnabled(true);
                break;
            }
            error = LocalFiles::errnoText(errno);
        } else {
            touch();
            front.done += sent;
            const qint64 total =
                front.kind == Output::Kind::Chunk ? front.length : front.bytes.size();
            if (front.done < total) {
                continue;
            }
        }
        const Output done = std::move(front);
        m_output.pop_front();
        switch (done.kind) {
        case Output::Kind::Reply:
            if (error.isNull()) {
                closeGracefully();
            } else {
                finish();
            }
            break;
        case Output::Kind::DownloadHead:
            if (error.isNull()) {
                m_pump->start();
            } else {
                m_pump->sendFailed(error);
            }
            break;
        case Output::Kind::Chunk:
            m_pump->chunkSent(done.length, done.lastChunk, error);
            break;
        }
    }
    if (m_output.empty() && m_writeNotifier) {
        m_writeNotifier->setEnabled(false);
    }
    m_flushing = false;
}

void LocalConnectionHandler::closeGracefully()
{
    if (m_didFinish) {
        return;
    }
    m_output.clear();
    m_phase = Phase::Closing;
    if (m_peerClosed) {
        finish();
        return;
    }
    // Closing with unread bytes would reset the connection and could destroy the reply in
    // flight; so the sending side closes first, and what still arrives is read and dropped.
    ::shutdown(m_fd, SHUT_WR);
    m_drainTimer.start(m_env.drainTimeoutMs);
}

void LocalConnectionHandler::abort()
{
    if (m_didFinish) {
        return;
    }
    const linger resetOnClose{1, 0};
    ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &resetOnClose, sizeof resetOnClose);
    finish();
}

void LocalConnectionHandler::finish()
{
    if (m_didFinish) {
        return;
    }
    m_didFinish = true;
    // The phone has gone: a question it is still waiting for is given up, not answered.
    LiveContexts::instance().retire(this);
    m_idleTimer.stop();
    m_drainTimer.stop();
    m_requestTimer.stop();
    m_readNotifier->setEnabled(false);
    m_writeNotifier->setEnabled(false);
    emit closing();
    ::close(m_fd);
    m_output.clear();
    m_upload.reset(); // an unfinished upload leaves nothing behind
    emit finished();
}

} // namespace qb
