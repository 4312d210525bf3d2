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
        qint64 offset;
        qint64 length;
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

Logger testLog()
{
    return Logger(QStringLiteral("WiFiAdvertiser.Conn"), true);
}

// Runs a download to its end, answering every cancellation question with "no".
void runToEnd(DownloadPump& pump, FakeSink& sink)
{
    pump.start();
    while (!pump.isFinished()) {
        if (sink.asks > 0) {
            sink.asks = 0;
            pump.cancellationAnswered(false);
            continue;
        }
        ASSERT_LT(sink.completed, sink.chunks.size());
        sink.clock += 0.01;
        sink.completeNext(pump);
    }
}

TEST(DownloadPump, ChunksCoverTheFileExactlyWithAtMostEightInFlight)
{
    for (qint64 length : {qint64(1), DownloadPump::kChunkSize, DownloadPump::kChunkSize + 1,
                          20 * DownloadPump::kChunkSize + 77}) {
        FakeSink sink;
        DownloadPump pump(sink, testLog(), "ID", length);
        runToEnd(pump, sink);
        qint64 expectedOffset = 0;
        for (const FakeSink::Chunk& chunk : sink.chunks) {
            EXPECT_EQ(chunk.offset, expectedOffset);
            EXPECT_LE(chunk.length, DownloadPump::kChunkSize);
            expectedOffset += chunk.length;
            EXPECT_EQ(chunk.last, expectedOffset == length);
        }
        EXPECT_EQ(expectedOffset, length);
        // Whole chunks only: a quarter mebibyte is one chunk, one byte more is two.
        EXPECT_EQ(qint64(sink.chunks.size()),
                  (length + DownloadPump::kChunkSize - 1) / DownloadPump::kChunkSize);
        EXPECT_LE(sink.maxInFlight, DownloadPump::kMaxInFlight);
        EXPECT_EQ(sink.calls.last(), "finish");
        EXPECT_TRUE(sink.calls.contains(QStringLiteral("completed %1").arg(length)));
        EXPECT_EQ(sink.progress.back(), length);
    }
}

TEST(DownloadPump, FillsToEightAndRefillsOnlyAfterTheCancellationAnswer)
{
    FakeSink sink;
    DownloadPump pump(sink, testLog(), "ID", 30 * DownloadPump::kChunkSize);
    pump.start();
    EXPECT_EQ(sink.asks, 1);
    EXPECT_TRUE(sink.chunks.empty()); // nothing goes out before the answer
    pump.cancellationAnswered(false);
    EXPECT_EQ(sink.chunks.size(), 8u);
    sink.completeNext(pump);
    sink.completeNext(pump);
    EXPECT_EQ(sink.asks, 2); // one question open at a time
    EXPECT_EQ(sink.chunks.size(), 8u);
    pump.cancellationAnswered(false);
    EXPECT_EQ(sink.chunks.size(), 10u);
    EXPECT_EQ(pump.inFlight(), 8);
}

TEST(DownloadPump, ProgressIsThrottledButTheFirstAndLastAlwaysReport)
{
    FakeSink sink;
    DownloadPump pump(sink, testLog(), "ID", 4 * DownloadPump::kChunkSize);
    pump.start();
    pump.cancellationAnswered(false);
    sink.completeNext(pump); // first completion reports
    sink.clock += 0.05;
    sink.completeNext(pump); // 50 ms later: too soon
    sink.clock += 0.05;
    sink.completeNext(pump); // 100 ms after the last report
    sink.completeNext(pump); // the last chunk reports at once
    const qint64 chunk = DownloadPump::kChunkSize;
    EXPECT_EQ(sink.progress, (std::vector<qint64>{chunk, 3 * chunk, 4 * chunk}));
    EXPECT_TRUE(pump.isFinished());
}

TEST(DownloadPump, CancellationAbortsAndConsumesTheCancellation)
{
    FakeSink sink;
    DownloadPump pump(sink, testLog(), "ID", 30 * DownloadPump::kChunkSize);
    pump.start();
    pump.cancellationAnswered(false);
    sink.completeNext(pump);
    pump.cancellationAnswered(true);
    EXPECT_TRUE(pump.isFinished());
    EXPECT_EQ(sink.calls.mid(sink.calls.size() - 2), QStringList({"clearCancellation", "abort"}));
    const auto before = sink.calls.size();
    sink.completeNext(pump); // late completions change nothing
    EXPECT_EQ(sink.calls.size(), before);
    EXPECT_FALSE(sink.calls.contains("failed"));
}

TEST(DownloadPump, ASendOrReadErrorFailsOnce)
{
    FakeSink sink;
    DownloadPump pump(sink, testLog(), "ID", 30 * DownloadPump::kChunkSize);
    pump.start();
    pump.cancellationAnswered(false);
    sink.completeNext(pump, QStringLiteral("Broken pipe"));
    sink.completeNext(pump, QStringLiteral("Broken pipe"));
    EXPECT_EQ(sink.calls.count("failed"), 1);
    EXPECT_EQ(sink.calls.last(), "finish");

    FakeSink other;
    DownloadPump second(other, testLog(), "ID", 30 * DownloadPump::kChunkSize);
    second.start();
    second.readFailed(QStringLiteral("Connection reset by peer"));
    EXPECT_EQ(other.calls.mid(other.calls.size() - 2), QStringList({"failed", "finish"}));
}

TEST(DownloadPump, EmptyFileCompletesOnceItsHeadIsOut)
{
    FakeSink sink;
    DownloadPump pump(sink, testLog(), "ID", 0);
    pump.start();
    pump.cancellationAnswered(false);
    EXPECT_TRUE(sink.chunks.empty());
    EXPECT_EQ(sink.calls, QStringList({"ask", "progress 0", "completed 0", "finish"}));
}

} // namespace
} // namespace qb
