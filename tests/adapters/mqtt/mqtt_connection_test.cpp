#include "adapters/mqtt/mqtt_connection.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/broker_test.h"

namespace orvanta {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class MqttConnectionTest : public testing::BrokerTest {
protected:
    void SetUp() override {
        BrokerTest::SetUp();
        settings_.topicPrefix = "test";
    }

    MqttConnection& connection() {
        if (!connection_)
            connection_ = std::make_unique<MqttConnection>(loop_, settings_, "test/panel/online", reporter());
        return *connection_;
    }

    // The reports that contain part.
    int count(const std::string& part) const {
        int found = 0;
        for (const std::string& error : errors_) found += error.find(part) != std::string::npos ? 1 : 0;
        return found;
    }

    std::unique_ptr<MqttConnection> connection_;
};

// Another client that publishes QoS 0 as fast as it is told, for a while.
void flood(int port, const std::string& topic, int perSecond, std::chrono::milliseconds duration) {
    mosquitto* client = mosquitto_new(nullptr, true, nullptr);
    ASSERT_EQ(mosquitto_connect(client, "127.0.0.1", port, 10), MOSQ_ERR_SUCCESS);
    mosquitto_loop_start(client);
    // The size of the values of a line of some thirty machines.
    std::string payload = R"({"machines": [)";
    for (int machine = 0; machine < 30; ++machine)
        payload +=
            std::string(machine > 0 ? ", " : "") + R"({"languageId": 1031, "status": 2, "message": "flood"})";
    payload += "]}";
    const auto start = Clock::now();
    long sent = 0;
    while (Clock::now() - start < duration) {
        const long due = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count() *
                         perSecond / 1000000;
        for (; sent < due; ++sent)
            mosquitto_publish(client, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                              payload.data(), 0, false);
        std::this_thread::sleep_for(200us);
    }
    mosquitto_disconnect(client);
    mosquitto_loop_stop(client, false);
    mosquitto_destroy(client);
}

// A subscriber that decodes more slowly than a flood arrives makes mosquitto drop its acknowledgements; the
// connection notices, reconnects and the newest values arrive, in the order of the last writes.
TEST_F(MqttConnectionTest, AFloodToASlowReaderDoesNotStallSending) {
    settings_.ackTimeout = 1500ms;
    connection().subscribe("test/line/values", [](const std::string&, std::string_view) {
        std::this_thread::sleep_for(200us);
        return std::function<void()>();
    });
    ASSERT_EQ(connection().start(), std::nullopt);
    EXPECT_TRUE(connection().started());
    peer_->subscribe("test/vars/#");
    peer_->subscribe("test/panel/online");
    connection().publish("test/vars/before", "1");
    ASSERT_TRUE(peer_->sees("test/vars/before", "1"));

    std::thread flooding([&] { flood(broker_->port(), "test/line/values", 20000, 3s); });
    for (int i = 0; i < 300 * 50; ++i) {  // the panel's writes go on meanwhile, 50 every 10 ms
        connection().publish("test/vars/v" + std::to_string(i % 50), std::to_string(i));
        if (i % 50 == 49) std::this_thread::sleep_for(10ms);
    }
    flooding.join();
    connection().publish("test/vars/last", "b");
    connection().publish("test/vars/first", "a");
    connection().publish("test/vars/last", "c");

    ASSERT_TRUE(loop_.runUntil([&] { return peer_->last("test/vars/last") == "c"; }, 15s)) << errors_.size();
    const std::vector<std::string> arrivals = peer_->arrivals();
    const auto first = std::find(arrivals.begin(), arrivals.end(), "test/vars/first=a");
    ASSERT_NE(first, arrivals.end());
    EXPECT_EQ(std::find(first, arrivals.end(), "test/vars/last=b"), arrivals.end())
        << "replaced while waiting";
    for (int v = 0; v < 50; ++v)
        EXPECT_EQ(peer_->last("test/vars/v" + std::to_string(v)), std::to_string(299 * 50 + v));
    const std::string broker = "The MQTT broker 127.0.0.1:" + std::to_string(broker_->port());
    ASSERT_TRUE(reported("acknowledges again"));
    ASSERT_EQ(errors_.size(), 2u) << errors_[0] << " / " << errors_[1] << " / " << errors_.back();
    // The window holds 16; the broker may have acknowledged a few of them before it began dropping.
    const std::string stalled = broker + " has not acknowledged ";
    ASSERT_EQ(errors_[0].rfind(stalled, 0), 0u) << errors_[0];
    const int unacknowledged = std::atoi(errors_[0].c_str() + stalled.size());
    EXPECT_TRUE(unacknowledged > 0 && unacknowledged <= 16) << errors_[0];
    EXPECT_NE(errors_[0].find(" messages for 1.5 s ("), std::string::npos) << errors_[0];
    EXPECT_NE(errors_[0].find(" more waiting); reconnecting to publish the newest values again"),
              std::string::npos);
    const std::string again = broker + " acknowledges again; the newest values of ";
    ASSERT_EQ(errors_[1].rfind(again, 0), 0u) << errors_[1];
    const int republished = std::atoi(errors_[1].c_str() + again.size());
    EXPECT_TRUE(republished > 0 && republished <= 16 + 53) << errors_[1];  // in flight, waiting, the presence
    // Dropped without a goodbye: the broker published the last will until the connection was back.
    EXPECT_EQ(peer_->history("test/panel/online"), (std::vector<std::string>{"true", "false", "true"}));
}

// Written before the connection: only the newest payload per topic goes out, in the order of the last
// writes, after the presence; stop() waits until all of it is acknowledged.
TEST_F(MqttConnectionTest, WaitingWritesGoOutNewestPerTopicInTheOrderOfTheLastWrites) {
    peer_->subscribe("test/#");
    ASSERT_TRUE(peer_->publish("test/ready", "1"));
    connection().publish("test/vars/a", "1");
    connection().publish("test/vars/b", "1");
    connection().publish("test/vars/a", "2");
    for (int i = 0; i < 100; ++i)
        connection().publish("test/vars/many" + std::to_string(i), std::to_string(i));
    connection().publish("test/vars/c", "1");
    ASSERT_EQ(connection().start(), std::nullopt);
    ASSERT_TRUE(peer_->sees("test/vars/c", "1"));
    connection().publish("test/vars/d", "1");
    connection().stop();

    std::vector<std::string> expected{"test/ready=1", "test/panel/online=true", "test/vars/b=1",
                                      "test/vars/a=2"};
    for (int i = 0; i < 100; ++i)
        expected.push_back("test/vars/many" + std::to_string(i) + "=" + std::to_string(i));
    expected.insert(expected.end(), {"test/vars/c=1", "test/vars/d=1", "test/panel/online=false"});
    EXPECT_TRUE(loop_.runUntil([&] { return peer_->arrivals().size() >= expected.size(); }));
    std::vector<std::string> arrivals;
    for (const std::string& arrival : peer_->arrivals())
        if (arrival.find("/sync/") == std::string::npos) arrivals.push_back(arrival);
    EXPECT_EQ(arrivals, expected);
    EXPECT_TRUE(errors_.empty());
}

TEST_F(MqttConnectionTest, ALostBrokerIsReportedAsAnErrorAndItsReturnAsANotice) {
    settings_.ackTimeout = 300ms;
    std::vector<std::pair<Severity, std::string>> said;
    connection_ = std::make_unique<MqttConnection>(
        loop_, settings_, "test/panel/online",
        [&](Severity severity, const std::string& message) { said.emplace_back(severity, message); });
    ASSERT_EQ(connection().start(), std::nullopt);
    peer_->subscribe("test/panel/online");
    peer_->subscribe("test/vars/#");
    ASSERT_TRUE(peer_->sees("test/panel/online", "true"));
    connection().setPresent(false);
    EXPECT_TRUE(peer_->sees("test/panel/online", "false"));
    connection().setPresent(true);
    EXPECT_TRUE(peer_->sees("test/panel/online", "true"));
    // A topic written again while its earlier writes are on their way goes out again at once, up to the
    // window; beyond it only the newest waits.
    for (int i = 1; i <= 40; ++i) connection().publish("test/vars/x", std::to_string(i));
    ASSERT_TRUE(peer_->sees("test/vars/x", "40"));
    const std::vector<std::string> written = peer_->history("test/vars/x");
    EXPECT_GE(written.size(), MqttConnection::kWindow);
    for (std::size_t i = 1; i < written.size(); ++i)
        EXPECT_LT(std::stoi(written[i - 1]), std::stoi(written[i]));

    broker_->stop();
    // Written while the broker is away: waits, without a stall of acknowledgements to report.
    connection().publish("test/vars/away", "1");
    loop_.runUntil([] { return false; }, 1s);
    broker_->start();
    ASSERT_TRUE(broker_->running());
    ASSERT_TRUE(loop_.runUntil([&] { return said.size() >= 2; }, 6s));
    loop_.runUntil([] { return false; }, 500ms);
    ASSERT_EQ(said.size(), 2u) << said.back().second;
    EXPECT_EQ(said[0].first, Severity::Error);
    EXPECT_NE(said[0].second.find("The connection to the MQTT broker was lost"), std::string::npos);
    EXPECT_EQ(said[1],
              std::make_pair(Severity::Notice, std::string("The connection to the MQTT broker is back")));
}

// Two clients with one ClientId throw each other off the broker: said once, plainly, not at every loss.
TEST_F(MqttConnectionTest, AnotherClientWithTheSameClientIdIsReportedOnce) {
    settings_.clientId = "panel-twin";
    std::vector<std::string> twinErrors;
    MqttConnection twin(loop_, settings_, "test/twin/online",
                        [&](const std::string& message) { twinErrors.push_back(message); });
    ASSERT_EQ(connection().start(), std::nullopt);
    ASSERT_EQ(twin.start(), std::nullopt);
    const std::string said =
        "The MQTT broker 127.0.0.1:" + std::to_string(broker_->port()) +
        " drops the connection right after every connect: another client probably uses the "
        "ClientId panel-twin; retrying, without a report for each loss";
    const auto reports = [&] {
        return std::count(errors_.begin(), errors_.end(), said) +
               std::count(twinErrors.begin(), twinErrors.end(), said);
    };
    ASSERT_TRUE(loop_.runUntil([&] { return reports() > 0; }, 12s))
        << errors_.size() << " " << twinErrors.size();
    loop_.runUntil([] { return false; }, 3s);  // the two go on throwing each other off
    EXPECT_LE(reports(), 2) << "once for each of the two";
    for (const auto* said : {&errors_, &twinErrors})
        EXPECT_LE(std::count_if(
                      said->begin(), said->end(),
                      [](const std::string& error) { return error.find("was lost") != std::string::npos; }),
                  MqttConnection::kThrownOffLimit);
    twin.stop();
}

// Each cause of a failed connection in its own words, against real servers.
TEST_F(MqttConnectionTest, EachConnectionFailureIsReportedInItsOwnWords) {
    const auto failureOf = [&](MqttSettings settings) {
        errors_.clear();
        MqttConnection connection(loop_, std::move(settings), "test/panel/online", reporter());
        EXPECT_EQ(connection.start(), std::nullopt);
        loop_.runUntil([&] { return !errors_.empty(); }, 3s);
        const std::string why = connection.lastFailure();
        EXPECT_TRUE(errors_.size() == 1 && errors_[0].find(why) != std::string::npos)
            << (errors_.empty() ? "nothing" : errors_[0]) << " / " << why;
        return why;
    };
    MqttSettings closed = settings_;
    closed.port = testing::MosquittoBroker::freePort();
    EXPECT_EQ(failureOf(closed),
              "the connection was refused (no broker listens on port " + std::to_string(closed.port) + ")");

    MqttSettings unknown = settings_;
    unknown.host = "nonexistent.invalid";
    EXPECT_EQ(failureOf(unknown),
              "the broker's host name nonexistent.invalid is unknown (it cannot be resolved)");

    // A server that answers the MQTT CONNECT with text.
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    std::atomic<bool> serving{true};
    std::thread server([&] {
        while (serving) {
            const int client = accept(listener, nullptr, nullptr);
            if (client < 0) return;
            char buffer[256];
            (void)!read(client, buffer, sizeof buffer);
            const char answer[] = "HTTP/1.1 400 Bad Request\r\n\r\n";
            (void)!write(client, answer, sizeof answer - 1);
            std::this_thread::sleep_for(200ms);
            close(client);
        }
    });
    MqttSettings garbage = settings_;
    garbage.port = ntohs(address.sin_port);
    EXPECT_EQ(failureOf(garbage), "the server at 127.0.0.1:" + std::to_string(garbage.port) +
                                      " does not speak MQTT (or expects TLS)");
    serving = false;
    shutdown(listener, SHUT_RDWR);
    close(listener);
    server.join();

    const std::filesystem::path ca = std::filesystem::temp_directory_path() /
                                     ("orvanta_connection_ca_" + std::to_string(getpid()) + ".crt");
    ASSERT_EQ(
        std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=TestCA -keyout /dev/null"
                     " -out " +
                     ca.string() + " > /dev/null 2>&1")
                        .c_str()),
        0);
    MqttSettings tls = settings_;
    tls.caFile = ca.string();
    EXPECT_EQ(failureOf(tls),
              "the TLS handshake failed (unexpected eof while reading; a port without TLS, or a "
              "certificate not signed by the CA in " +
                  ca.string() + ")");
    std::filesystem::remove(ca);
}

class MqttConnectionLoginTest : public MqttConnectionTest {
protected:
    std::string brokerConfig() override { return "allow_anonymous false\n"; }
};

TEST_F(MqttConnectionLoginTest, ARefusedLoginIsSaidOnceThoughItIsRetried) {
    settings_.reconnectDelayMax = 1s;
    ASSERT_EQ(connection().start(), std::nullopt);
    loop_.runUntil([] { return false; }, 2500ms);
    EXPECT_EQ(errors_, std::vector<std::string>{
                           "No connection to the MQTT broker 127.0.0.1:" + std::to_string(broker_->port()) +
                           ": the broker refuses clients without a login (Username is empty); "
                           "retrying"});
}

}  // namespace
}  // namespace orvanta
