#include "fake_server_backend.h"
#include "wifi/pin_attempt_limiter.h"
#include "wifi/request_router.h"

#include <QJsonDocument>

#include <gtest/gtest.h>

namespace qb {
namespace {

using Route = RequestRouter::Route;

class FakeResponder : public RouteResponder
{
public:
    void sendText(int status, const QString& text) override
    {
        replies << QStringLiteral("%1 %2").arg(status).arg(text);
    }
    void sendJSON(const QJsonObject& object) override
    {
        replies << QStringLiteral("200 ") +
                       QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
    }
    QObject* context() override { return &object; }

    QStringList replies;
    QObject object;
};

class RequestRouterTest : public ::testing::Test
{
protected:
    test::FakeServerBackend backend;
    PinAttemptLimiter limiter;
    qint64 clockMs = 1'000'000;
    RequestRouter router{backend, limiter, "Desk", [this] {
                             return clockMs;
                         }};
    FakeResponder responder;

    QString pair(const QString& host, const QByteArray& body)
    {
        FakeResponder one;
        router.handle(Route::Pair, host, body, one);
        return one.replies.value(0);
    }
};

TEST_F(RequestRouterTest, PairNeedsAStringPin)
{
    backend.pins["h"] = "012345";
    EXPECT_EQ(pair("h", "{\"pin\":12345}"), "400 Missing pin");
    EXPECT_EQ(pair("h", "not json"), "400 Missing pin");
    EXPECT_EQ(pair("h", "[\"012345\"]"), "400 Missing pin");
    EXPECT_EQ(pair("h", "{}"), "400 Missing pin");
    EXPECT_EQ(pair("h", "{\"pin\":\"12345\"}"), "401 Incorrect PIN"); // leading zero matters
    EXPECT_EQ(pair("h", "{\"pin\":\"012345\"}"), "200 {\"token\":\"TOKEN-1\"}");
    EXPECT_EQ(pair("h", "{\"pin\":\"012345\"}"), "200 {\"token\":\"TOKEN-2\"}");
    EXPECT_EQ(pair("unknown-host", "{\"pin\":\"012345\"}"), "401 Incorrect PIN");
}

TEST_F(RequestRouterTest, ReconnectNeedsAValidStringToken)
{
    auto reconnect = [this](const QByteArray& body) {
        FakeResponder one;
        router.handle(Route::Reconnect, "h", body, one);
        return one.replies.value(0);
    };
    EXPECT_EQ(reconnect("{\"token\":5}"), "400 Missing token");
    EXPECT_EQ(reconnect(""), "400 Missing token");
    EXPECT_EQ(reconnect("{\"token\":\"BAD\"}"),
              QString::fromUtf8("401 Invalid token \xe2\x80\x94 pair again"));
    EXPECT_EQ(reconnect("{\"token\":\"GOOD\"}"), "200 {\"ok\":true}");
}

TEST_F(RequestRouterTest, FiveWrongPinsReplaceThePinAndLockTheHostOut)
{
    backend.pins["attacker"] = "111111";
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(pair("attacker", "{\"pin\":\"000000\"}"), "401 Incorrect PIN");
    }
    EXPECT_TRUE(backend.calls().contains("regeneratePIN attacker"));
    const qsizetype checks = backend.calls().filter("verifyPIN").size();
    // Locked out: even the (new) right PIN is refused without being checked.
    EXPECT_EQ(pair("attacker", "{\"pin\":\"999999\"}"), "401 Incorrect PIN");
    EXPECT_EQ(backend.calls().filter("verifyPIN").size(), checks);
    // Another phone is not affected.
    backend.pins["phone"] = "222222";
    EXPECT_EQ(pair("phone", "{\"pin\":\"222222\"}"), "200 {\"token\":\"TOKEN-1\"}");
    // Once the lock-out is over, the PIN on screen pairs.
    clockMs += 31'000;
    EXPECT_EQ(pair("attacker", "{\"pin\":\"999999\"}"), "200 {\"token\":\"TOKEN-2\"}");
}

TEST(PinAttemptLimiter, LockOutDoublesAndAGlobalBurstStopsEverybody)
{
    PinAttemptLimiter::Limits limits;
    limits.failuresPerHost = 2;
    limits.firstLockoutMs = 1000;
    limits.failuresInWindow = 5;
    limits.windowMs = 10'000;
    PinAttemptLimiter limiter(limits);
    qint64 now = 0;
    auto fail = [&](const QString& host) {
        EXPECT_TRUE(limiter.beginAttempt(host, now));
        return limiter.recordFailure(host, now);
    };
    EXPECT_FALSE(fail("a"));
    EXPECT_TRUE(fail("a")); // second failure: locked for 1 s
    EXPECT_FALSE(limiter.beginAttempt("a", now + 999));
    now += 1000;
    EXPECT_FALSE(fail("a"));
    EXPECT_TRUE(fail("a")); // locked again, now for 2 s
    EXPECT_FALSE(limiter.beginAttempt("a", now + 1999));
    EXPECT_TRUE(limiter.beginAttempt("b", now));
    EXPECT_FALSE(limiter.recordFailure("b", now)); // 5 failures within the window
    EXPECT_FALSE(limiter.beginAttempt("c", now));  // everybody waits
    EXPECT_TRUE(limiter.beginAttempt("c", now + 10'001));
}

TEST(PinAttemptLimiter, ParallelAttemptsCountAndAbandonedOnesExpire)
{
    PinAttemptLimiter::Limits limits;
    limits.failuresPerHost = 3;
    limits.staleAttemptMs = 5000;
    PinAttemptLimiter limiter(limits);
    EXPECT_TRUE(limiter.beginAttempt("a", 0));
    EXPECT_TRUE(limiter.beginAttempt("a", 0));
    EXPECT_TRUE(limiter.beginAttempt("a", 0));
    EXPECT_FALSE(limiter.beginAttempt("a", 0));   // three still being checked
    EXPECT_TRUE(limiter.beginAttempt("a", 5000)); // their answers never came
    limiter.recordSuccess("a");
    EXPECT_TRUE(limiter.beginAttempt("a", 5000));
}

} // namespace
} // namespace qb
