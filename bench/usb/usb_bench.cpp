// Transfers through MTPFileRepository versus a plain loop over the same libmtp calls, on the
// emulated phone: one 256 MiB file and 1,000 files of 4 KiB, each way. Prints the throughput
// ratio and the many-files time ratio (ours / plain libmtp); the goal is under 5% overhead.
// Then the same downloads onto a disk: plain libmtp as it is, plain libmtp made durable (each
// file written, flushed and renamed, the folder flushed once per batch), and ours through the
// transfer engine, which commits each file the same way; the goals are printed with the figures.
// First of all, the Refresh of a folder of 1,000 files against its first listing
// (`--refresh-only` stops there), then Go Back to the top folder while 12 uploads of 3 MiB run on
// a phone at 1 MB/s, against one such upload plus the same listing with nothing queued
// (`--go-back-only` stops there).
#include "browsing/file_browser_view_model.h"
#include "core/device/mtp_file_repository.h"
#include "core/transfer/transfer_job_stream.h"
#include "core/transfer/transfer_queue_actor.h"
#include "phone/emulated_phone.h"
#include "platform/futures.h"
#include "platform/local_files.h"
#include "platform/preference_store.h"

#include <libmtp.h>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr qint64 kBigSize = 256ll << 20;
constexpr int kSmallCount = 1000;
constexpr int kSmallSize = 4096;
constexpr int kRounds = 5;

void writeFile(const fs::path& path, qint64 size, char seed)
{
    std::ofstream out(path, std::ios::binary);
    std::string block(1 << 20, seed);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>(seed + i * 31);
    for (qint64 left = size; left > 0; left -= qint64(block.size()))
        out.write(block.data(), std::streamsize(std::min<qint64>(left, block.size())));
}

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

double timeIt(const std::function<void()>& work)
{
    const auto start = Clock::now();
    work();
    return seconds(Clock::now() - start);
}

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "usb bench: %s\n", what);
    std::exit(1);
}

// The four workloads of one side, in seconds.
struct Times
{
    double bigDown = 1e9, bigUp = 1e9, smallDown = 1e9, smallUp = 1e9;
    // Ours only: every small file handed over at once, then all awaited.
    double queuedDown = 1e9, queuedUp = 1e9;
    // Downloads onto the disk folder; plain libmtp also made durable.
    double bigDisk = 1e9, smallDisk = 1e9, bigDurable = 1e9, smallDurable = 1e9;
    void keepBest(const Times& o)
    {
        bigDisk = std::min(bigDisk, o.bigDisk);
        smallDisk = std::min(smallDisk, o.smallDisk);
        bigDurable = std::min(bigDurable, o.bigDurable);
        smallDurable = std::min(smallDurable, o.smallDurable);
        bigDown = std::min(bigDown, o.bigDown);
        bigUp = std::min(bigUp, o.bigUp);
        smallDown = std::min(smallDown, o.smallDown);
        smallUp = std::min(smallUp, o.smallUp);
        queuedDown = std::min(queuedDown, o.queuedDown);
        queuedUp = std::min(queuedUp, o.queuedUp);
    }
};

struct Layout
{
    fs::path localBig;
    fs::path localSmall; // folder of the local small files
    fs::path out;        // where downloads go
    fs::path disk;       // where downloads to disk go
};

// Plain libmtp: one open device, the library calls in a loop.
Times runPlain(const Layout& layout, int round)
{
    // Our side's device thread may still be releasing the phone after its run.
    LIBMTP_mtpdevice_t* device = nullptr;
    for (int attempt = 0; attempt < 50 && !device; ++attempt) {
        if (attempt > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        LIBMTP_raw_device_t* raw = nullptr;
        int count = 0;
        if (LIBMTP_Detect_Raw_Devices(&raw, &count) == LIBMTP_ERROR_NONE && count > 0)
            device = LIBMTP_Open_Raw_Device_Uncached(&raw[0]);
        free(raw);
    }
    if (!device)
        fail("libmtp could not open the phone");
    LIBMTP_Get_Storage(device, LIBMTP_STORAGE_SORTBY_NOTSORTED);
    const uint32_t storage = qb::EmulatedPhone::storageId();

    uint32_t bigId = 0, smallFolder = 0;
    for (LIBMTP_file_t* f = LIBMTP_Get_Files_And_Folders(device, storage, 0xFFFFFFFFu); f;) {
        if (std::string(f->filename) == "big.bin")
            bigId = f->item_id;
        if (std::string(f->filename) == "small")
            smallFolder = f->item_id;
        LIBMTP_file_t* next = f->next;
        LIBMTP_destroy_file_t(f);
        f = next;
    }
    std::vector<uint32_t> smallIds;
    for (LIBMTP_file_t* f = LIBMTP_Get_Files_And_Folders(device, storage, smallFolder); f;) {
        smallIds.push_back(f->item_id);
        LIBMTP_file_t* next = f->next;
        LIBMTP_destroy_file_t(f);
        f = next;
    }
    const std::string tag = "plain" + std::to_string(round);
    char upName[64];
    std::snprintf(upName, sizeof upName, "up_%s", tag.c_str());
    const uint32_t upFolder = LIBMTP_Create_Folder(device, upName, 0xFFFFFFFFu, storage);

    auto send = [&](const fs::path& local, uint32_t parent) -> uint32_t {
        LIBMTP_file_t* file = LIBMTP_new_file_t();
        file->filename = strdup(local.filename().c_str());
        file->parent_id = parent;
        file->storage_id = storage;
        file->filetype = LIBMTP_FILETYPE_UNKNOWN;
        file->filesize = fs::file_size(local);
        if (LIBMTP_Send_File_From_File(device, local.c_str(), file, nullptr, nullptr) != 0)
            fail("plain upload failed");
        const uint32_t id = file->item_id;
        LIBMTP_destroy_file_t(file);
        return id;
    };

    Times t;
    t.bigDown = timeIt([&] {
        if (LIBMTP_Get_File_To_File(device, bigId, (layout.out / (tag + ".bin")).c_str(), nullptr,
                                    nullptr) != 0)
            fail("plain download failed");
    });
    uint32_t uploadedBig = 0;
    t.bigUp = timeIt([&] { uploadedBig = send(layout.localBig, upFolder); });
    LIBMTP_Delete_Object(device, uploadedBig); // keeps the phone's folder small
    t.smallDown = timeIt([&] {
        int i = 0;
        for (uint32_t id : smallIds) {
            const fs::path target = layout.out / (tag + "_" + std::to_string(i++));
            if (LIBMTP_Get_File_To_File(device, id, target.c_str(), nullptr, nullptr) != 0)
                fail("plain small download failed");
        }
    });
    t.smallUp = timeIt([&] {
        for (int i = 0; i < kSmallCount; ++i)
            send(layout.localSmall / ("s" + std::to_string(i)), upFolder);
    });
    t.bigDisk = timeIt([&] {
        if (LIBMTP_Get_File_To_File(device, bigId, (layout.disk / (tag + ".bin")).c_str(), nullptr,
                                    nullptr) != 0)
            fail("plain download to disk failed");
    });
    t.smallDisk = timeIt([&] {
        int i = 0;
        for (uint32_t id : smallIds) {
            const fs::path target = layout.disk / (tag + "_" + std::to_string(i++));
            if (LIBMTP_Get_File_To_File(device, id, target.c_str(), nullptr, nullptr) != 0)
                fail("plain small download to disk failed");
        }
    });
    // Written under a temporary name, flushed, then named: the least a durable download costs.
    const auto durable = [&](uint32_t id, const fs::path& target) {
        const fs::path part = target.parent_path() / ("." + target.filename().string() + ".part");
        if (LIBMTP_Get_File_To_File(device, id, part.c_str(), nullptr, nullptr) != 0)
            fail("plain durable download failed");
        const int fd = ::open(part.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::fdatasync(fd) != 0)
            fail("could not flush a download");
        ::close(fd);
        fs::rename(part, target);
    };
    const QString disk = QString::fromStdString(layout.disk.string());
    t.bigDurable = timeIt([&] {
        durable(bigId, layout.disk / (tag + "_durable.bin"));
        qb::LocalFiles::syncFolder(disk);
    });
    t.smallDurable = timeIt([&] {
        int i = 0;
        for (uint32_t id : smallIds)
            durable(id, layout.disk / (tag + "_durable_" + std::to_string(i++)));
        qb::LocalFiles::syncFolder(disk);
    });
    LIBMTP_Release_Device(device);
    return t;
}

template <typename Condition> void runUntil(Condition condition)
{
    while (!condition()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(50);
    }
}

// Downloads through the transfer engine, as the phone pane queues them, until all are completed.
double engineDownloads(const std::shared_ptr<qb::FileRepository>& repo, const Layout& layout,
                       const QList<std::pair<QString, QString>>& files)
{
    auto preferences = std::make_shared<qb::QSettingsPreferenceStore>(
        QString::fromStdString((layout.out / "prefs.ini").string()));
    qb::TransferQueueActor::Options options;
    options.preferences = preferences;
    qb::TransferQueueActor engine(options);
    engine.setRepositoryProvider([repo](const QString&, quint64) {
        return qb::readyFuture<std::shared_ptr<qb::FileRepository>>(repo);
    });
    const QUrl folder = QUrl::fromLocalFile(QString::fromStdString(layout.disk.string()));
    QList<qb::TransferJob> jobs;
    for (const auto& [path, name] : files)
        jobs.append(qb::TransferJob::make(qb::TransferType::Download,
                                          qb::TransferEndpoint::android("phone", path, name),
                                          qb::TransferEndpoint::local(folder)));
    const std::unique_ptr<qb::TransferJobStream> stream = engine.jobUpdates();
    qsizetype completed = 0;
    QObject::connect(stream.get(), &qb::TransferJobStream::published,
                     [&](const QList<qb::TransferJob>& list) {
                         completed = 0;
                         for (const qb::TransferJob& job : list) {
                             if (job.status == qb::TransferStatus::Failed)
                                 fail("a download through the engine failed");
                             completed += job.status == qb::TransferStatus::Completed;
                         }
                     });
    return timeIt([&] {
        engine.enqueue(jobs);
        runUntil([&] { return completed == jobs.size(); });
    });
}

// Ours: the repository, waiting for each operation as the transfer engine does.
Times runOurs(const Layout& layout, const QString& deviceId, int round)
{
    qb::MTPClient::Options options; // no volume monitor to suspend here
    auto repo = qb::MTPFileRepository::create(deviceId, options).result();
    const QString root = QString::number(qb::EmulatedPhone::storageId()) + "/0";
    QString bigPath, smallFolder;
    for (const auto& item : repo->listFiles(root).result()) {
        if (item.name == "big.bin")
            bigPath = item.path;
        if (item.name == "small")
            smallFolder = item.path;
    }
    QStringList smallPaths;
    for (const auto& item : repo->listFiles(smallFolder).result())
        smallPaths.append(item.path);
    const QString tag = QStringLiteral("ours%1").arg(round);
    repo->createFolder("up_" + tag, root).waitForFinished();
    QString upFolder;
    for (const auto& item : repo->listFiles(root).result())
        if (item.name == "up_" + tag)
            upFolder = item.path;
    const QString out = QString::fromStdString(layout.out.string());
    const QString localSmall = QString::fromStdString(layout.localSmall.string());
    const qb::ProgressFn noProgress = [](qint64, qint64) {
    };

    Times t;
    t.bigDown = timeIt([&] {
        repo->downloadFile(bigPath, out + "/" + tag + ".bin", noProgress).waitForFinished();
    });
    t.bigUp = timeIt([&] {
        repo->uploadFile(QString::fromStdString(layout.localBig.string()), upFolder, noProgress)
            .waitForFinished();
    });
    for (const auto& item : repo->listFiles(upFolder).result())
        repo->deleteItem(item.path).waitForFinished();
    t.smallDown = timeIt([&] {
        int i = 0;
        for (const QString& path : smallPaths)
            repo->downloadFile(path, out + "/" + tag + "_" + QString::number(i++), noProgress)
                .waitForFinished();
    });
    t.smallUp = timeIt([&] {
        for (int i = 0; i < kSmallCount; ++i)
            repo->uploadFile(localSmall + "/s" + QString::number(i), upFolder, noProgress)
                .waitForFinished();
    });
    t.queuedDown = timeIt([&] {
        QList<QFuture<void>> all;
        int i = 0;
        for (const QString& path : smallPaths)
            all.append(repo->downloadFile(path, out + "/q" + tag + "_" + QString::number(i++),
                                          noProgress));
        // One device thread runs them in order: the last one done means all are.
        all.last().waitForFinished();
    });
    repo->createFolder("upq_" + tag, root).waitForFinished();
    QString upQueued;
    for (const auto& item : repo->listFiles(root).result())
        if (item.name == "upq_" + tag)
            upQueued = item.path;
    t.queuedUp = timeIt([&] {
        QList<QFuture<void>> all;
        for (int i = 0; i < kSmallCount; ++i)
            all.append(
                repo->uploadFile(localSmall + "/s" + QString::number(i), upQueued, noProgress));
        // One device thread runs them in order: the last one done means all are.
        all.last().waitForFinished();
    });
    t.bigDisk = engineDownloads(repo, layout, {{bigPath, tag + ".bin"}});
    QList<std::pair<QString, QString>> small;
    for (const QString& path : smallPaths)
        small.append({path, tag + "_" + QString::number(small.size())});
    t.smallDisk = engineDownloads(repo, layout, small);
    repo.reset();
    return t;
}

// A folder of 1,000 files listed, then Refreshed as the phone pane does it (a new session, then
// the listing): best of a few rounds each.
std::pair<double, double> refreshTimes(const QString& deviceId)
{
    double first = 1e9, refresh = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        auto repo = qb::MTPFileRepository::create(deviceId, qb::MTPClient::Options()).result();
        const QString root = QString::number(qb::EmulatedPhone::storageId()) + "/0";
        QString smallFolder;
        for (const auto& item : repo->listFiles(root).result())
            if (item.name == "small")
                smallFolder = item.path;
        first = std::min(first, timeIt([&] {
                             if (repo->listFiles(smallFolder).result().size() != kSmallCount)
                                 fail("the first listing missed files");
                         }));
        refresh = std::min(refresh, timeIt([&] {
                               repo->renewSession().waitForFinished();
                               if (repo->listFiles(smallFolder).result().size() != kSmallCount)
                                   fail("the refreshed listing missed files");
                           }));
    }
    return {first, refresh};
}

// The time from Go Back to the top folder on screen while 12 uploads of 3 MiB are queued on a
// phone at 1 MB/s, every finished job reloading the pane; and the reference: one such upload plus
// the same listing with nothing queued.
std::pair<double, double> goBackTimes(qb::EmulatedPhone& phone, const QString& deviceId,
                                      const fs::path& folder)
{
    constexpr int kQueued = 12;
    constexpr qint64 kQueuedSize = 3ll << 20;
    fs::create_directories(folder);
    QStringList locals;
    for (int i = 0; i <= kQueued; ++i) {
        const fs::path file = folder / ("queued" + std::to_string(i) + ".bin");
        writeFile(file, kQueuedSize, char('q' + i));
        locals.append(QString::fromStdString(file.string()));
    }
    auto repo = qb::MTPFileRepository::create(deviceId, qb::MTPClient::Options()).result();
    const QString top = QString::number(qb::EmulatedPhone::storageId()) + "/0";
    repo->createFolder("go_back", top).waitForFinished();
    qb::FileItem uploads;
    for (const auto& item : repo->listFiles(top).result())
        if (item.name == "go_back")
            uploads = item;
    phone.setRateLimit(1'000'000);

    qb::FileBrowserViewModel browser;
    browser.setRepository(repo, "phone");
    browser.setRoot(top, "Internal");
    const auto listed = [&] {
        runUntil([&] { return !browser.isLoading(); });
        if (browser.errorMessage())
            fail("a listing failed");
    };
    listed();
    browser.open(uploads);
    listed();
    const qb::ProgressFn noProgress = [](qint64, qint64) {
    };
    const double oneUpload = timeIt(
        [&] { repo->uploadFile(locals.first(), uploads.path, noProgress).waitForFinished(); });
    const double emptyQueue = timeIt([&] {
        browser.navigateUp();
        listed();
    });
    browser.open(uploads);
    listed();

    auto preferences = std::make_shared<qb::QSettingsPreferenceStore>(
        QString::fromStdString((folder / "prefs.ini").string()));
    qb::TransferQueueActor::Options options;
    options.preferences = preferences;
    qb::TransferQueueActor engine(options);
    engine.setRepositoryProvider([repo](const QString&, quint64) {
        return qb::readyFuture<std::shared_ptr<qb::FileRepository>>(repo);
    });
    QList<qb::TransferJob> jobs;
    for (int i = 1; i <= kQueued; ++i)
        jobs.append(qb::TransferJob::make(
            qb::TransferType::Upload, qb::TransferEndpoint::local(QUrl::fromLocalFile(locals[i])),
            qb::TransferEndpoint::android("phone", uploads.path, "go_back"), kQueuedSize));
    const std::unique_ptr<qb::TransferJobStream> stream = engine.jobUpdates();
    qsizetype completed = 0;
    // As the phone pane does: every finished job lists the folder on screen again.
    QObject::connect(stream.get(), &qb::TransferJobStream::published,
                     [&](const QList<qb::TransferJob>& list) {
                         qsizetype done = 0;
                         for (const qb::TransferJob& job : list) {
                             if (job.status == qb::TransferStatus::Failed)
                                 fail("an upload through the engine failed");
                             done += job.status == qb::TransferStatus::Completed;
                         }
                         if (done != completed)
                             browser.reload();
                         completed = done;
                     });
    engine.enqueue(jobs);
    // The queue is well under way: one upload done, the next ones in the library or waiting.
    runUntil([&] { return completed >= 1; });
    QThread::msleep(500);
    const double loaded = timeIt([&] {
        browser.navigateUp();
        listed();
    });
    if (browser.currentFolderPath() != top || browser.items().isEmpty())
        fail("Go Back did not show the top folder");
    for (const qb::TransferJob& job : jobs)
        engine.cancel(job.id);
    // Waits behind the uploads still in the library.
    repo->itemInfo(uploads.path).waitForFinished();
    phone.setRateLimit(0);
    return {oneUpload + emptyQueue, loaded};
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (!qb::EmulatedPhone::standInLoaded())
        fail("the stand-in libusb is not loaded");
    qb::EmulatedPhone::setTimeoutScale(1.0);
    LIBMTP_Init();

    // Memory-backed when possible, so disk write-back does not drown the difference measured.
    QTemporaryDir temp(QDir("/dev/shm").exists() ? QStringLiteral("/dev/shm/qb_usb_bench-XXXXXX")
                                                 : QDir::tempPath() + "/qb_usb_bench-XXXXXX");
    QTemporaryDir onDisk(QDir::tempPath() + "/qb_usb_bench_disk-XXXXXX");
    const fs::path root = temp.path().toStdString();
    const fs::path storage = root / "storage";
    Layout layout{root / "local_big.bin", root / "local_small", root / "out",
                  onDisk.path().toStdString()};
    fs::create_directories(storage / "small");
    fs::create_directories(layout.localSmall);
    fs::create_directories(layout.out);
    writeFile(storage / "big.bin", kBigSize, 'b');
    writeFile(layout.localBig, kBigSize, 'l');
    for (int i = 0; i < kSmallCount; ++i) {
        writeFile(storage / "small" / ("f" + std::to_string(i)), kSmallSize, char(i));
        writeFile(layout.localSmall / ("s" + std::to_string(i)), kSmallSize, char(i + 1));
    }

    qb::PhoneLayout phoneLayout;
    phoneLayout.storages.push_back({storage});
    qb::EmulatedPhone phone(phoneLayout);
    const QString deviceId =
        QStringLiteral("unknown_%1_%2").arg(phone.busNumber()).arg(phone.deviceAddress());

    const auto [firstListing, refreshed] = refreshTimes(deviceId);
    std::printf("folder of 1000 files: first listing %.3f s, Refresh (new session and listing) "
                "%.3f s, ratio %.2f (goal under 1.5: %s)\n",
                firstListing, refreshed, refreshed / firstListing,
                refreshed / firstListing < 1.5 ? "met" : "MISSED");
    if (argc > 1 && std::string(argv[1]) == "--refresh-only")
        return 0;

    const auto [reference, goBack] = goBackTimes(phone, deviceId, root / "go_back");
    std::printf("Go Back while 12 uploads of 3 MiB run at 1 MB/s: %.3f s; one upload plus the "
                "listing with nothing queued %.3f s; ratio %.2f (goal at most 1.5: %s)\n",
                goBack, reference, goBack / reference,
                goBack / reference <= 1.5 ? "met" : "MISSED");
    if (argc > 1 && std::string(argv[1]) == "--go-back-only")
        return 0;

    Times plain, ours;
    for (int round = 0; round < kRounds; ++round) {
        // Alternate which side goes first so neither profits from warm caches alone.
        if (round % 2 == 0) {
            plain.keepBest(runPlain(layout, round));
            ours.keepBest(runOurs(layout, deviceId, round));
        } else {
            ours.keepBest(runOurs(layout, deviceId, round));
            plain.keepBest(runPlain(layout, round));
        }
        for (const auto& entry : fs::directory_iterator(layout.out))
            fs::remove(entry.path());
        for (const auto& entry : fs::directory_iterator(layout.disk))
            fs::remove(entry.path());
    }

    const double mib = double(kBigSize) / (1 << 20);
    std::printf("256 MiB download: plain %.1f MiB/s, ours %.1f MiB/s\n", mib / plain.bigDown,
                mib / ours.bigDown);
    std::printf("256 MiB upload:   plain %.1f MiB/s, ours %.1f MiB/s\n", mib / plain.bigUp,
                mib / ours.bigUp);
    std::printf("1000 x 4 KiB download: plain %.3f s, ours %.3f s\n", plain.smallDown,
                ours.smallDown);
    std::printf("1000 x 4 KiB upload:   plain %.3f s, ours %.3f s\n", plain.smallUp, ours.smallUp);
    const double throughputRatio = (plain.bigDown + plain.bigUp) / (ours.bigDown + ours.bigUp);
    const double manyFilesRatio =
        (ours.smallDown + ours.smallUp) / (plain.smallDown + plain.smallUp);
    const double queuedRatio =
        (ours.queuedDown + ours.queuedUp) / (plain.smallDown + plain.smallUp);
    std::printf("1000 x 4 KiB queued at once (ours): download %.3f s, upload %.3f s\n",
                ours.queuedDown, ours.queuedUp);
    std::printf("throughput ratio (ours / plain libmtp): %.3f\n", throughputRatio);
    std::printf("many-files time ratio (ours / plain libmtp), each call awaited: %.3f\n",
                manyFilesRatio);
    std::printf("many-files time ratio (ours / plain libmtp), calls queued: %.3f\n", queuedRatio);
    std::printf("to disk, plain libmtp not flushed: 256 MiB %.1f MiB/s, 1000 x 4 KiB %.3f s\n",
                mib / plain.bigDisk, plain.smallDisk);
    std::printf("to disk, durable: 256 MiB plain %.1f MiB/s, ours through the engine %.1f MiB/s; "
                "1000 x 4 KiB plain %.3f s, ours %.3f s\n",
                mib / plain.bigDurable, mib / ours.bigDisk, plain.smallDurable, ours.smallDisk);
    const double smallGoal = 1.25, bigGoal = 0.9;
    const double smallRatio = ours.smallDisk / plain.smallDurable;
    const double bigRatio = plain.bigDurable / ours.bigDisk;
    std::printf("goal: 1000 x 4 KiB to disk at most %.2fx the durable reference: %.2fx, %s\n",
                smallGoal, smallRatio, smallRatio <= smallGoal ? "met" : "MISSED");
    std::printf("goal: 256 MiB to disk at least %.2f of the durable reference: %.2f, %s\n", bigGoal,
                bigRatio, bigRatio >= bigGoal ? "met" : "MISSED");
    return 0;
}
