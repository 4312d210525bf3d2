#include "fake_server_backend.h"
#include "wifi/pin_attempt_limiter.h"
#include "wifi/request_router.h"

#include <QJsonArray>
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

TEST(RequestRouter, RouteTableMatchesMethodAndPathExactly)
{
    EXPECT_EQ(RequestRouter::routeFor("POST", "/pair"), Route::Pair);
    EXPECT_EQ(RequestRouter::routeFor("POST", "/reconnect"), Route::Reconnect);
    EXPECT_EQ(RequestRouter::routeFor("GET", "/status"), Route::Status);
    EXPECT_EQ(RequestRouter::routeFor("GET", "/status?x=1"), Route::NotFound);
    EXPECT_EQ(RequestRouter::routeFor("get", "/status"), Route::NotFound);
    EXPECT_EQ(RequestRouter::routeFor("POST", "/status"), Route::NotFound);
    EXPECT_EQ(RequestRouter::routeFor("GET", "/control"), Route::Control);
    EXPECT_EQ(RequestRouter::routeFor("GET", "/controlpanel"), Route::Control);
    EXPECT_EQ(RequestRouter::routeFor("POST", "/upload"), Route::Upload);
    EXPECT_EQ(RequestRouter::routeFor("PUT", "/upload"), Route::NotFound);
    EXPECT_EQ(RequestRouter::routeFor("GET", "/pending"), Route::Pending);
    EXPECT_EQ(RequestRouter::routeFor("GET", "/pending/"), Route::NotFound);
    EXPECT_EQ(RequestRouter::routeFor("GET", "/download?id=1"), Route::Download);
    EXPECT_EQ(RequestRouter::routeFor("GET", "/downloads"), Route::Download);
    EXPECT_EQ(RequestRouter::routeFor("POST", "/pair/"), Route::NotFound);
}

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

TEST_F(RequestRouterTest, EveryRequestIsRecordedBeforeItsRoute)
{
    router.recordRequest("GET", "/nothing", "10.0.0.5", std::nullopt);
    router.recordRequest("GET", "/status", "10.0.0.5", QString());
    router.recordRequest("GET", "/status", "10.0.0.5", QString("Pixel"));
    EXPECT_EQ(backend.calls(),
              QStringList({"touch 10.0.0.5 <none>", "touch 10.0.0.5 ", "touch 10.0.0.5 Pixel"}));
}

TEST_F(RequestRouterTest, StatusControlAndNotFound)
{
    router.handle(Route::Status, "h", "ignored body", responder);
    router.handle(Route::Control, "h", {}, responder);
    router.handle(Route::NotFound, "h", {}, responder);
    EXPECT_EQ(responder.replies,
              QStringList({"200 {\"name\":\"Desk\",\"ok\":true}",
                           "501 WebSocket /control not implemented", "404 Not Found"}));
}

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

TEST_F(RequestRouterTest, PendingListsOnlyTheAskingHostsFilesInOrder)
{
    backend.offers["a"] = {{"ID-1", "one.txt", 10}, {"ID-2", "two.bin", 5000000000}};
    router.handle(Route::Pending, "a", {}, responder);
    router.handle(Route::Pending, "b", {}, responder);
    ASSERT_EQ(responder.replies.size(), 2);
    const QJsonArray files = QJsonDocument::fromJson(responder.replies[0].mid(4).toUtf8())
                                 .object()
                                 .value("files")
                                 .toArray();
    ASSERT_EQ(files.size(), 2);
    EXPECT_EQ(files[0].toObject(),
              QJsonObject({{"id", "ID-1"}, {"name", "one.txt"}, {"size", 10}}));
    EXPECT_EQ(files[1].toObject().value("size").toInteger(), 5000000000);
    EXPECT_EQ(responder.replies[1], "200 {\"files\":[]}");
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
