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
        reply = QStringLiteral("%1 %2").arg(status).arg(text);
    }
    void sendJSON(const QJsonObject& object) override
    {
        reply = "200 " + QJsonDocument(object).toJson(QJsonDocument::Compact);
    }
    QObject* context() override { return &object; }

    QString reply;
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

    QString handle(Route route, const QString& host, const QByteArray& body)
    {
        FakeResponder one;
        router.handle(route, host, body, one);
        return one.reply;
    }
    QString pair(const QString& host, const QByteArray& body)
    {
        return handle(Route::Pair, host, body);
    }
};

TEST_F(RequestRouterTest, PairAndReconnectNeedStrings)
{
    backend.pins["h"] = "012345";
    for (const QByteArray body : {"{\"pin\":12345}", "not json", "[\"012345\"]", "{}"})
        EXPECT_EQ(pair("h", body), "400 Missing pin");
    EXPECT_EQ(pair("h", "{\"pin\":\"12345\"}"), "401 Incorrect PIN"); // leading zero matters
    EXPECT_EQ(pair("h", "{\"pin\":\"012345\"}"), "200 {\"token\":\"TOKEN-1\"}");
    EXPECT_EQ(pair("unknown-host", "{\"pin\":\"012345\"}"), "401 Incorrect PIN");
    EXPECT_EQ(handle(Route::Reconnect, "h", "{\"token\":5}"), "400 Missing token");
    EXPECT_EQ(handle(Route::Reconnect, "h", "{\"token\":\"BAD\"}"),
              QString::fromUtf8("401 Invalid token \xe2\x80\x94 pair again"));
    EXPECT_EQ(handle(Route::Reconnect, "h", "{\"token\":\"GOOD\"}"), "200 {\"ok\":true}");
}

TEST_F(RequestRouterTest, FiveWrongPinsReplaceThePinAndLockTheHostOut)
{
    backend.pins["attacker"] = "111111";
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(pair("attacker", "{\"pin\":\"000000\"}"), "401 Incorrect PIN");
    EXPECT_EQ(backend.pins["attacker"], "999999"); // replaced
    const int checks = backend.pinChecks;
    // Locked out: even the (new) right PIN is refused without being checked.
    EXPECT_EQ(pair("attacker", "{\"pin\":\"999999\"}"), "401 Incorrect PIN");
    EXPECT_EQ(backend.pinChecks, checks);
    backend.pins["phone"] = "222222"; // another phone is not affected
    EXPECT_EQ(pair("phone", "{\"pin\":\"222222\"}"), "200 {\"token\":\"TOKEN-1\"}");
    clockMs += 31'000; // once the lock-out is over, the PIN on screen pairs
    EXPECT_EQ(pair("attacker", "{\"pin\":\"999999\"}"), "200 {\"token\":\"TOKEN-2\"}");
}

TEST(PinAttemptLimiter, LockOutDoublesAGlobalBurstStopsEverybodyAndStaleAttemptsExpire)
{
    PinAttemptLimiter limiter({.failuresPerHost = 2,
                               .firstLockoutMs = 1000,
                               .failuresInWindow = 5,
                               .windowMs = 10'000,
                               .staleAttemptMs = 5000});
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
    now += 10'001;
    EXPECT_TRUE(limiter.beginAttempt("c", now));
    EXPECT_TRUE(limiter.beginAttempt("c", now));
    EXPECT_FALSE(limiter.beginAttempt("c", now));       // two still being checked
    EXPECT_TRUE(limiter.beginAttempt("c", now + 5000)); // their answers never came
}

} // namespace
} // namespace qb
