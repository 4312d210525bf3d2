// DNS-SD against a real Avahi daemon, inside a private network namespace that only has its own
// loop-back interface, talking over a private D-Bus. Needs root; skipped otherwise. Every wait for
// a daemon has a deadline generous enough for a loaded machine.
#include "platform/avahi_dns_sd_publisher.h"
#include "server_test_support.h"
#include "wifi/pending_outgoing_files_registry.h"
#include "wifi/received_files_registry.h"
#include "wifi/registry_server_backend.h"
#include "wifi/sent_files_registry.h"
#include "wifi/wifi_advertiser.h"
#include "wifi/wifi_peer_registry.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace qb {
namespace {

const QStringList kSystemPaths{"/usr/sbin", "/usr/bin", "/sbin", "/bin"};
constexpr int kDaemonDeadlineMs = 60'000;

int run(const QString& program, const QStringList& arguments, QByteArray* output = nullptr,
        const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(30'000)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    if (output)
        *output = process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// A daemon started by the test and stopped, whatever happens, when the test ends.
class Daemon
{
public:
    ~Daemon() { stop(); }
    bool start(const QString& program, const QStringList& arguments,
               const QProcessEnvironment& environment)
    {
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(program, arguments);
        return m_process.waitForStarted(10'000);
    }
    // Collects the daemon's output until it contains `text`; false if the daemon ends first.
    bool waitForOutput(const QByteArray& text)
    {
        test::waitUntil(
            [&] {
                m_output += m_process.readAll();
                return m_output.contains(text) || m_process.state() == QProcess::NotRunning;
            },
            kDaemonDeadlineMs);
        return m_output.contains(text) && m_process.state() == QProcess::Running;
    }
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(10'000)) {
            m_process.kill();
            m_process.waitForFinished(10'000);
        }
    }
    QByteArray output() const { return m_output; }

private:
    QProcess m_process;
    QByteArray m_output;
};

// A network namespace that exists for the life of the object.
class NetworkNamespace
{
public:
    NetworkNamespace() : m_name(QStringLiteral("qbtest%1").arg(::getpid()))
    {
        m_created = run("ip", {"netns", "add", m_name}) == 0;
    }
    ~NetworkNamespace()
    {
        if (m_created)
            run("ip", {"netns", "del", m_name});
    }
    bool created() const { return m_created; }
    QString name() const { return m_name; }
    QStringList exec(const QStringList& command) const
    {
        return QStringList{"netns", "exec", m_name} + command;
    }

private:
    QString m_name;
    bool m_created = false;
};

TEST(DnsSdNamespace, AdvertisesOnceTheDaemonAppearsAndTakesAnAlternativeNameOnCollision)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root for a network namespace";
    }
    if (run("ip", {"netns", "list"}) != 0) {
        GTEST_SKIP() << "ip netns is not available";
    }
    const QString avahiDaemon = QStandardPaths::findExecutable("avahi-daemon", kSystemPaths);
    const QString dbusDaemon = QStandardPaths::findExecutable("dbus-daemon", kSystemPaths);
    const QString avahiBrowse = QStandardPaths::findExecutable("avahi-browse", kSystemPaths);
    if (avahiDaemon.isEmpty() || dbusDaemon.isEmpty() || avahiBrowse.isEmpty()) {
        GTEST_SKIP() << "avahi-daemon, dbus-daemon or avahi-browse is missing";
    }
    test::ensureApplication();
    test::LogCapture logs;
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    NetworkNamespace ns;
    if (!ns.created()) {
        GTEST_SKIP() << "cannot create a network namespace here";
    }
    ASSERT_EQ(run("ip", ns.exec({"ip", "link", "set", "lo", "up"})), 0);
    ASSERT_EQ(run("ip", ns.exec({"ip", "link", "set", "lo", "multicast", "on"})), 0);

    // A private bus, so that no system daemon is touched.
    const QString busSocket = QDir(folder.path()).filePath("bus");
    QFile busConfig(QDir(folder.path()).filePath("bus.conf"));
    ASSERT_TRUE(busConfig.open(QIODevice::WriteOnly));
    busConfig.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
                    "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                    "<busconfig><type>system</type><listen>unix:path=" +
                    busSocket.toUtf8() +
                    "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                    "<allow user=\"*\"/><allow own=\"*\"/><allow send_destination=\"*\"/>"
                    "<allow receive_sender=\"*\"/></policy></busconfig>\n");
    busConfig.close();
    QFile avahiConfig(QDir(folder.path()).filePath("avahi.conf"));
    ASSERT_TRUE(avahiConfig.open(QIODevice::WriteOnly));
    avahiConfig.write("[server]\nhost-name=quillbay-test\nuse-ipv4=yes\nuse-ipv6=no\n"
                      "allow-interfaces=lo\nenable-dbus=yes\n[wide-area]\nenable-wide-area=no\n"
                      "[publish]\npublish-hinfo=no\npublish-workstation=no\n");
    avahiConfig.close();

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString busAddress = "unix:path=" + busSocket;
    environment.insert("DBUS_SYSTEM_BUS_ADDRESS", busAddress);
    const QByteArray previousBus = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", busAddress.toUtf8());
    struct RestoreBus
    {
        QByteArray previous;
        ~RestoreBus()
        {
            if (previous.isNull())
                qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
            else
                qputenv("DBUS_SYSTEM_BUS_ADDRESS", previous);
        }
    } restoreBus{previousBus};

    // The socket file appears before the bus listens on it, and a publisher that finds no bus
    // gives up for good; the address is printed only once the bus listens.
    Daemon bus;
    ASSERT_TRUE(bus.start(
        dbusDaemon,
        {"--config-file=" + busConfig.fileName(), "--nofork", "--nopidfile", "--print-address"},
        environment));
    ASSERT_TRUE(bus.waitForOutput(busAddress.toUtf8())) << bus.output().constData();

    Daemon avahi;
    {
        // The server comes first: it serves, and says why it is not advertised yet.
        WiFiPeerRegistry peers(folder.path());
        PendingOutgoingFilesRegistry outgoing;
        ReceivedFilesRegistry received(folder.path());
        SentFilesRegistry sent(folder.path());
        RegistryServerBackend backend(peers, outgoing, received, sent);
        WiFiAdvertiser::Options options;
        options.serviceName = QStringLiteral("Quillbay Test");
        options.downloadsFolder = [path = folder.path()] {
            return path;
        };
        WiFiAdvertiser server(backend, std::make_unique<AvahiDnsSdPublisher>(), options);
        server.start();
        ASSERT_TRUE(server.port());
        ASSERT_TRUE(test::waitUntil(
            [&] { return logs.contains("Avahi daemon is not running; waiting for it to start"); },
            kDaemonDeadlineMs))
            << logs.lines().join('\n').toStdString();
        const QByteArray status = test::runAsPhone<QByteArray>([&] {
            test::RawClient client(*server.port());
            client.send("GET /status HTTP/1.1\r\n\r\n");
            return client.read();
        });
        EXPECT_TRUE(status.startsWith("HTTP/1.1 200 OK"));

        // Avahi gets a /run of its own, so that it never meets a daemon of the host.
        ASSERT_TRUE(avahi.start(
            "ip",
            ns.exec({"sh", "-c",
                     "mount -t tmpfs tmpfs /run && exec " + avahiDaemon + " -f " +
                         avahiConfig.fileName() + " --no-drop-root --no-chroot --no-rlimits"}),
            environment));
        ASSERT_TRUE(avahi.waitForOutput("Server startup complete")) << avahi.output().constData();
        ASSERT_TRUE(test::waitUntil(
            [&] { return logs.contains("Advertised as \"Quillbay Test\""); }, kDaemonDeadlineMs))
            << logs.lines().join('\n').toStdString();

        // A second server with the same name gets Avahi's alternative name. The rename comes
        // before the service is established, and only an established one is browsed.
        WiFiAdvertiser twin(backend, std::make_unique<AvahiDnsSdPublisher>(), options);
        twin.start();
        ASSERT_TRUE(test::waitUntil(
            [&] { return logs.contains("Advertised as \"Quillbay Test #2\""); }, kDaemonDeadlineMs))
            << logs.lines().join('\n').toStdString();
        EXPECT_EQ(twin.serviceName(), "Quillbay Test #2");

        const QString first = QStringLiteral("=;lo;IPv4;Quillbay\\032Test;_lanternpost._tcp;local;"
                                             "quillbay-test.local;127.0.0.1;%1;");
        const QString second =
            QStringLiteral("=;lo;IPv4;Quillbay\\032Test\\032\\0352;_lanternpost._"
                           "tcp;local;quillbay-test.local;127.0.0.1;%1;");
        // "-t" ends the browse at Avahi's "all for now", a guess that a loaded machine can beat.
        QByteArray browsed;
        EXPECT_TRUE(test::waitUntil(
            [&] {
                browsed.clear();
                run("ip", ns.exec({avahiBrowse, "-rpt", "_lanternpost._tcp"}), &browsed,
                    environment);
                const QStringList lines = QString::fromUtf8(browsed).split('\n');
                return lines.contains(first.arg(*server.port())) &&
                       lines.contains(second.arg(*twin.port()));
            },
            kDaemonDeadlineMs))
            << browsed.constData();
    }
    avahi.stop();
    bus.stop();
}

} // namespace
} // namespace qb
