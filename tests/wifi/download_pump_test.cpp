#include "wifi/download_pump.h"

#include <QStringList>

#include <gtest/gtest.h>

namespace qb {
namespace {

// Records what the pump asks of its connection; the test plays the connection's completions.
class FakeSink : public DownloadPumpDelegate
{
public:
    struct Chunk
    {
        qint64 offset, length;
        bool last;
    };
    void sendChunk(qint64 offset, qint64 length, bool lastChunk) override
    {
        chunks.push_back({offset, length, lastChunk});
        maxInFlight = std::max(maxInFlight, int(chunks.size() - completed));
    }
    void askCancelled() override
    {
        ++asks;
        calls << "ask";
    }
    void reportProgress(qint64 sentBytes) override
    {
        progress.push_back(sentBytes);
        calls << QStringLiteral("progress %1").arg(sentBytes);
    }
    void clearCancellation() override { calls << "clearCancellation"; }
    void markFailed() override { calls << "failed"; }
    void markCompleted(qint64 bytes) override
    {
        calls << QStringLiteral("completed %1").arg(bytes);
    }
    void abortConnection() override { calls << "abort"; }
    void finishConnection() override { calls << "finish"; }
    double now() override { return clock; }

    // Completes the oldest chunk still in flight.
    void completeNext(DownloadPump& pump, const QString& error = {})
    {
        const Chunk chunk = chunks.at(completed++);
        pump.chunkSent(chunk.length, chunk.last, error);
    }

    std::vector<Chunk> chunks;
    size_t completed = 0;
    int maxInFlight = 0;
    int asks = 0;
    std::vector<qint64> progress;
    QStringList calls;
    double clock = 1000;
};

const Logger kLog(QStringLiteral("WiFiAdvertiser.Conn"), true);
constexpr qint64 kChunk = DownloadPump::kChunkSize;

TEST(DownloadPump, ChunksCoverTheFileExactlyWithAtMostEightInFlight)
{
    for (qint64 length : {qint64(0), qint64(1), kChunk, kChunk + 1, 20 * kChunk + 77}) {
        FakeSink sink;
        DownloadPump pump(sink, kLog, "ID", length);
        pump.start();
        while (!pump.isFinished()) {
            if (std::exchange(sink.asks, 0) > 0) {
                pump.cancellationAnswered(false);
                continue;
            }
            ASSERT_LT(sink.completed, sink.chunks.size());
            sink.clock += 0.01;
            sink.completeNext(pump);
        }
        qint64 offset = 0;
        for (const FakeSink::Chunk& chunk : sink.chunks) {
            EXPECT_EQ(chunk.offset, offset);
            offset += chunk.length;
            EXPECT_EQ(chunk.last, offset == length);
        }
        EXPECT_EQ(offset, length);
        EXPECT_EQ(qint64(sink.chunks.size()), (length + kChunk - 1) / kChunk); // whole chunks only
        EXPECT_LE(sink.maxInFlight, DownloadPump::kMaxInFlight);
        EXPECT_EQ(sink.calls.mid(sink.calls.size() - 2),
                  QStringList({QStringLiteral("completed %1").arg(length), "finish"}));
        EXPECT_EQ(sink.progress.back(), length);
    }
}

TEST(DownloadPump, RefillsOnlyAfterTheCancellationAnswerAndThrottlesProgress)
{
    FakeSink sink;
    DownloadPump pump(sink, kLog, "ID", 10 * kChunk);
    pump.start();
    EXPECT_TRUE(sink.chunks.empty()); // nothing goes out before the answer
    pump.cancellationAnswered(false);
    EXPECT_EQ(sink.chunks.size(), 8u);
    sink.completeNext(pump); // first completion reports
    sink.clock += 0.05;
    sink.completeNext(pump);               // 50 ms later: too soon
    EXPECT_EQ(sink.calls.count("ask"), 2); // one question open at a time
    EXPECT_EQ(sink.chunks.size(), 8u);
    pump.cancellationAnswered(false);
    EXPECT_EQ(pump.inFlight(), 8);
    EXPECT_EQ(sink.progress, (std::vector<qint64>{kChunk}));
}

TEST(DownloadPump, ASendOrReadErrorFailsOnce)
{
    FakeSink sink;
    DownloadPump pump(sink, kLog, "ID", 30 * kChunk);
    pump.start();
    pump.cancellationAnswered(false);
    sink.completeNext(pump, QStringLiteral("Broken pipe"));
    sink.completeNext(pump, QStringLiteral("Broken pipe"));
    EXPECT_EQ(sink.calls.count("failed"), 1);
    EXPECT_EQ(sink.calls.last(), "finish");

    FakeSink other;
    DownloadPump second(other, kLog, "ID", 30 * kChunk);
    second.start();
    second.readFailed(QStringLiteral("Connection reset by peer"));
    EXPECT_EQ(other.calls.mid(other.calls.size() - 2), QStringList({"failed", "finish"}));
}

} // namespace
} // namespace qb
