// Wi-Fi server benchmark: a 1 GiB download against nginx, a 1 GiB upload against a raw TCP
// sink writing to the same disk and flushing before it answers, the wait for the answer after an
// upload's last byte and how fast other phones are served meanwhile, and 500 simultaneous
// "/status" requests. Every server runs in a
// process of its own, started fresh for each measurement, so that its peak memory is its own.
#include "bench_processes.h"

#include "support/loopback.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using qb::bench::connectTo;

constexpr qint64 kFileSize = 1024LL * 1024 * 1024;
// Odd runs measure the reference first, so that neither side always runs on a warmer machine.
constexpr int kRuns = 5;
constexpr int kStatusRequests = 500;
// One "/status" per connection thread of the server: connections are handed out in turn, so one
// of them shares the thread of the upload before them.
constexpr int kStatusProbes = 4;

struct Server
{
    QProcess process;
    quint16 port = 0;
    QString id;

    bool start(const QStringList& arguments)
    {
        process.start(QCoreApplication::applicationFilePath(), arguments);
        if (!process.waitForStarted() || !process.waitForReadyRead(30'000)) {
            return false;
        }
        const QStringList words = QString::fromUtf8(process.readLine()).split(' ');
        port = words.value(1).toUShort();
        id = words.value(3).trimmed();
        return port != 0;
    }
    // Peak resident memory so far, in MiB.
    double peakMiB() const
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(process.processId()));
        if (!status.open(QIODevice::ReadOnly)) {
            return -1;
        }
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("VmHWM:")) {
                return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
            }
        }
        return -1;
    }
    ~Server()
    {
        process.terminate();
        if (!process.waitForFinished(10'000)) {
            process.kill();
            process.waitForFinished();
        }
    }
};

double mibPerSecond(qint64 bytes, qint64 nanoseconds)
{
    return double(bytes) / (1024.0 * 1024.0) / (double(nanoseconds) / 1e9);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// GETs `path` with curl from 127.0.0.2; seconds, or -1 unless exactly kFileSize bytes came.
double curlDownload(quint16 port, const QString& path)
{
    QProcess curl;
    QElapsedTimer timer;
    timer.start();
    curl.start("curl",
               {"-s", "--interface", "127.0.0.2", "-o", "/dev/null", "-w", "%{size_download}",
                QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path)});
    curl.waitForFinished(600'000);
    const qint64 elapsed = timer.nsecsElapsed();
    return curl.readAllStandardOutput().toLongLong() == kFileSize ? double(elapsed) : -1;
}

struct UploadTimes
{
    double total = -1;        // nanoseconds, -1 when no 200 came back
    double okWait = 0;        // from the last byte sent to the answer, nanoseconds
    double slowestProbe = -1; // the slowest "/status" sent right after the last byte, ms
};

std::vector<double> statusStorm(quint16 port, int count);

// POSTs the file raw, as the phone does. With `probe`, other phones ask for "/status" while the
// server finishes the upload.
UploadTimes uploadTo(quint16 port, const QString& file, bool probe)
{
    UploadTimes times;
    const int source = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC);
    QElapsedTimer timer;
    timer.start();
    const int fd = connectTo(port, "127.0.0.2");
    const QByteArray head = "POST /upload HTTP/1.1\r\nX-File-Name: upload.bin\r\nContent-Length: " +
                            QByteArray::number(kFileSize) + "\r\n\r\n";
    bool ok = fd >= 0 && ::send(fd, head.constData(), size_t(head.size()), 0) == head.size();
    off_t offset = 0;
    while (ok && offset < kFileSize) {
        ok = ::sendfile(fd, source, &offset, size_t(kFileSize - offset)) > 0;
    }
    const qint64 lastByte = timer.nsecsElapsed();
    std::vector<double> probes;
    std::thread prober;
    if (ok && probe) {
        prober = std::thread([&] { probes = statusStorm(port, kStatusProbes); });
    }
    char reply[4096];
    const ssize_t got = ok ? ::recv(fd, reply, sizeof reply, MSG_WAITALL) : -1;
    const qint64 elapsed = timer.nsecsElapsed();
    if (prober.joinable()) {
        prober.join();
    }
    ::close(fd);
    ::close(source);
    if (got > 12 && QByteArray(reply, 12) == "HTTP/1.1 200") {
        times.total = double(elapsed);
        times.okWait = double(elapsed - lastByte);
    }
    if (probes.size() == size_t(kStatusProbes)) {
        times.slowestProbe = *std::max_element(probes.begin(), probes.end());
    }
    return times;
}

// `count` requests in flight together; the latencies of the answered ones, in milliseconds.
std::vector<double> statusStorm(quint16 port, int count)
{
    struct Request
    {
        int fd;
        QElapsedTimer timer;
        QByteArray reply;
        bool done = false;
        double latencyMs = 0;
    };
    std::vector<Request> requests(size_t(count), Request{});
    std::vector<pollfd> polls;
    const QByteArray get = "GET /status HTTP/1.1\r\nX-Device-Name: Bench\r\n\r\n";
    for (Request& request : requests) {
        request.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        request.timer.start();
        ::connect(request.fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        polls.push_back({request.fd, POLLOUT, 0});
    }
    int open = count;
    std::vector<bool> sent(size_t(count), false);
    while (open > 0 && ::poll(polls.data(), polls.size(), 30'000) > 0) {
        for (int i = 0; i < count; ++i) {
            Request& request = requests[i];
            if (request.done || polls[i].revents == 0) {
                continue;
            }
            if (!sent[i] && (polls[i].revents & POLLOUT)) {
                ::send(request.fd, get.constData(), size_t(get.size()), MSG_NOSIGNAL);
                sent[i] = true;
                polls[i].events = POLLIN;
                continue;
            }
            char buffer[4096];
            const ssize_t got = ::recv(request.fd, buffer, sizeof buffer, 0);
            if (got > 0) {
                request.reply.append(buffer, got);
                continue;
            }
            request.done = true;
            request.latencyMs = double(request.timer.nsecsElapsed()) / 1e6;
            polls[i].fd = -1;
            --open;
        }
    }
    std::vector<double> latencies;
    for (Request& request : requests) {
        if (request.done && request.reply.startsWith("HTTP/1.1 200 OK")) {
            latencies.push_back(request.latencyMs);
        }
        ::close(request.fd);
    }
    return latencies;
}

quint16 freeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// nginx on a loop-back port with a private configuration, serving `root`; never the system's.
class Nginx
{
public:
    bool start(const QString& folder, const QString& root)
    {
        port = freeLoopbackPort();
        QStringList temp;
        QProcess version;
        version.start("nginx", {"-V"});
        version.waitForFinished();
        const QByteArray built = version.readAllStandardError();
        for (const QString kind : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
            // nginx-light leaves some of these modules out, and then knows no such directive.
            if (kind == "client_body" ||
                !built.contains("--without-http_" + kind.toUtf8() + "_module")) {
                temp << QStringLiteral("%1_temp_path %2/%1;").arg(kind, folder);
            }
        }
        QFile config(QDir(folder).filePath("nginx.conf"));
        config.open(QIODevice::WriteOnly);
        config.write(
            QStringLiteral("daemon off; master_process off; user root; worker_processes 1;\n"
                           "pid %1/nginx.pid; error_log %1/error.log;\n"
                           "events { worker_connections 64; }\n"
                           "http { access_log off; sendfile on; tcp_nopush on;\n%2\n"
                           "  server { listen 127.0.0.1:%3; root %4; } }\n")
                .arg(folder, temp.join('\n'))
                .arg(port)
                .arg(root)
                .toUtf8());
        config.close();
        m_process.start("nginx",
                        {"-p", folder, "-e", folder + "/error.log", "-c", config.fileName()});
        if (!m_process.waitForStarted()) {
            return false;
        }
        for (int i = 0; i < 100; ++i) {
            const int fd = connectTo(port, "127.0.0.1");
            if (fd >= 0) {
                ::close(fd);
                return true;
            }
            QThread::msleep(50);
        }
        return false;
    }
    ~Nginx()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(10'000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    quint16 port = 0;

private:
    QProcess m_process;
};

bool writePayload(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    QByteArray block(4 * 1024 * 1024, Qt::Uninitialized);
    quint64 state = 0x9E3779B97F4A7C15ULL;
    for (qint64 written = 0; written < kFileSize; written += block.size()) {
        auto* words = reinterpret_cast<quint64*>(block.data());
        for (qsizetype i = 0; i < block.size() / 8; ++i) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            words[i] = state;
        }
        if (file.write(block) != block.size()) {
            return false;
        }
    }
    return true;
}

int runBenchmark()
{
    const QString base = qEnvironmentVariable("QB_BENCH_DIR", QDir::tempPath());
    QTemporaryDir folder(QDir(base).filePath("quillbay-wifi-bench-XXXXXX"));
    const QString www = QDir(folder.path()).filePath("www");
    QDir().mkpath(www);
    const QString payload = QDir(www).filePath("payload.bin");
    if (!folder.isValid() || !writePayload(payload)) {
        std::fprintf(stderr, "cannot write the 1 GiB payload in %s\n", qPrintable(base));
        return 1;
    }
    std::printf("Wi-Fi server benchmark (1 GiB file, loopback, median of %d runs)\n", kRuns);

    std::vector<double> ours, reference;
    double downloadPeak = 0;
    {
        Nginx nginx;
        if (!nginx.start(folder.path(), www)) {
            std::fprintf(stderr, "nginx did not start\n");
            return 1;
        }
        for (int run = 0; run < kRuns; ++run) {
            Server server;
            if (!server.start({"--serve", folder.path(), payload})) {
                return 1;
            }
            double nginxTime = run % 2 ? curlDownload(nginx.port, "/payload.bin") : 0;
            const double time = curlDownload(server.port, "/download?id=" + server.id);
            downloadPeak = std::max(downloadPeak, server.peakMiB());
            if (run % 2 == 0) {
                nginxTime = curlDownload(nginx.port, "/payload.bin");
            }
            if (time < 0 || nginxTime < 0) {
                std::fprintf(stderr, "a download came back incomplete\n");
                return 1;
            }
            ours.push_back(mibPerSecond(kFileSize, qint64(time)));
            reference.push_back(mibPerSecond(kFileSize, qint64(nginxTime)));
        }
    }
    const double downloadOurs = median(ours), downloadNginx = median(reference);
    std::printf("download: quillbay %.0f MiB/s, nginx %.0f MiB/s, ratio %.2f (goal >= 0.80); "
                "server peak memory %.1f MiB (goal < 64)\n",
                downloadOurs, downloadNginx, downloadOurs / downloadNginx, downloadPeak);

    ours.clear();
    reference.clear();
    std::vector<double> okWaits, sinkOkWaits, probes;
    double uploadPeak = 0;
    const QString uploaded = QDir(folder.path()).filePath("downloads/Quillbay/upload.bin");
    const QString sunk = QDir(folder.path()).filePath("sink.bin");
    auto uploadToSink = [&]() -> UploadTimes {
        Server sink;
        if (!sink.start({"--sink", sunk})) {
            return {};
        }
        const UploadTimes times = uploadTo(sink.port, payload, false);
        sink.process.waitForFinished(60'000);
        const bool whole = QFileInfo(sunk).size() == kFileSize && sink.process.exitCode() == 0;
        QFile::remove(sunk);
        return whole ? times : UploadTimes{};
    };
    for (int run = 0; run < kRuns; ++run) {
        UploadTimes sinkTimes = run % 2 ? uploadToSink() : UploadTimes{};
        {
            Server server;
            if (!server.start({"--serve", folder.path(), QString()})) {
                return 1;
            }
            const UploadTimes times = uploadTo(server.port, payload, true);
            uploadPeak = std::max(uploadPeak, server.peakMiB());
            if (times.total < 0 || QFileInfo(uploaded).size() != kFileSize) {
                std::fprintf(stderr, "an upload did not complete\n");
                return 1;
            }
            ours.push_back(mibPerSecond(kFileSize, qint64(times.total)));
            okWaits.push_back(times.okWait / 1e6);
            probes.push_back(times.slowestProbe);
            QFile::remove(uploaded);
        }
        if (run % 2 == 0) {
            sinkTimes = uploadToSink();
        }
        if (sinkTimes.total < 0) {
            std::fprintf(stderr, "the flushing sink did not get the whole file\n");
            return 1;
        }
        reference.push_back(mibPerSecond(kFileSize, qint64(sinkTimes.total)));
        sinkOkWaits.push_back(sinkTimes.okWait / 1e6);
    }
    const double uploadOurs = median(ours), uploadSink = median(reference);
    const double uploadRatio = uploadOurs / uploadSink;
    std::printf("upload: quillbay %.0f MiB/s, flushing raw TCP sink %.0f MiB/s, ratio %.2f; "
                "server peak memory %.1f MiB (goal < 64)\n",
                uploadOurs, uploadSink, uploadRatio, uploadPeak);
    std::printf("goal: Wi-Fi 1 GiB upload at least 0.8 of the flushing sink: %s\n",
                uploadRatio >= 0.8 ? "met" : "NOT met");
    std::printf("wait for \"ok\" after a 1 GiB upload's last byte: quillbay %.0f ms, flushing sink "
                "%.0f ms\n",
                median(okWaits), median(sinkOkWaits));
    const double slowestProbe = *std::max_element(probes.begin(), probes.end());
    std::printf("goal: a /status from another phone during a 1 GiB upload's commit answers in "
                "under 200 ms (slowest of %d per run, worst run): %.1f ms, %s\n",
                kStatusProbes, slowestProbe,
                slowestProbe >= 0 && slowestProbe < 200 ? "met" : "NOT met");

    Server server;
    if (!server.start({"--serve", folder.path(), QString()})) {
        return 1;
    }
    std::vector<double> latencies = statusStorm(server.port, kStatusRequests);
    std::sort(latencies.begin(), latencies.end());
    const double p99 = latencies.empty()
                           ? -1
                           : latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)];
    std::printf("status: %zu of %d simultaneous requests answered, p99 latency %.1f ms; "
                "server peak memory %.1f MiB\n",
                latencies.size(), kStatusRequests, p99, server.peakMiB());
    return latencies.size() == size_t(kStatusRequests) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.value(1) == "--serve") {
        return qb::bench::runServer(arguments.value(2), arguments.value(3));
    }
    if (arguments.value(1) == "--sink") {
        return qb::bench::runSink(arguments.value(2));
    }
    return runBenchmark();
}
