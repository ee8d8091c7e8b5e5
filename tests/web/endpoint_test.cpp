#include "web/endpoint.h"

#include <QTcpSocket>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <ostream>
#include <string>

#include "support/eventually.h"

namespace zqn::web {
namespace {

// One request on a connection of its own, and what has come back of it.
class Client {
public:
    Client(quint16 port, const QByteArray& path)
    {
        socket_.connectToHost(QHostAddress::LocalHost, port);
        socket_.write("GET " + path + " HTTP/1.1\r\nHost: test\r\nConnection: close\r\n\r\n");
    }
    QByteArray received()
    {
        answer_ += socket_.readAll();
        return answer_;
    }

private:
    QTcpSocket socket_;
    QByteArray answer_;
};

enum class Meanwhile { nothing, newList, endpointGoes };

struct WaitCase {
    const char* name;
    Meanwhile meanwhile; // while the first JSON is being made
    QByteArray answer;   // its status line's start, and the body's
    QByteArray body;
};

class JsonWaiting : public testing::TestWithParam<WaitCase> {};

// The JSON is made on a thread of its own while its requests wait, and the others are answered
// meanwhile; a request that waits is answered whatever happens to the list or to the endpoint.
TEST_P(JsonWaiting, IsAnsweredAndOthersMeanwhile)
{
    auto endpoint = std::make_unique<Endpoint>([] { return Metrics{}; });
    ASSERT_EQ(endpoint->listen(QStringLiteral("127.0.0.1"), 0, true, {}), QString());
    const quint16 port = endpoint->port();
    ASSERT_TRUE(endpoint->serve(Endpoint::File::csv, std::string("old\r\n")));
    std::promise<void> started, release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> makings = 0;
    // Only the first making waits, until the test lets it go; made on the test's own thread, it
    // would give up rather than hang.
    endpoint->deriveJson([&started, released, &makings](std::string_view csv) {
        if (makings++ == 0) {
            started.set_value();
            released.wait_for(std::chrono::seconds(10));
        }
        return "[\"" + std::string(csv.substr(0, csv.find('\r'))) + "\"]";
    });

    Client waiting(port, "/devices.json");
    std::future<void> making = started.get_future();
    ASSERT_EVENTUALLY(making.wait_for(std::chrono::seconds(0)) == std::future_status::ready);
    Client other(port, "/devices.csv");
    ASSERT_EVENTUALLY(other.received().endsWith("\r\n\r\nold\r\n"));

    if (GetParam().meanwhile == Meanwhile::newList) {
        ASSERT_TRUE(endpoint->serve(Endpoint::File::csv, std::string("new\r\n")));
    }
    release.set_value();
    if (GetParam().meanwhile == Meanwhile::endpointGoes)
        endpoint.reset();
    ASSERT_EVENTUALLY(waiting.received().endsWith(GetParam().body)) << waiting.received().toStdString();
    EXPECT_TRUE(waiting.received().startsWith("HTTP/1.1 " + GetParam().answer)) << waiting.received().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JsonWaiting,
    testing::Values(WaitCase{"made", Meanwhile::nothing, "200", "[\"old\"]"},
                    WaitCase{"made_again_for_the_list_served_since", Meanwhile::newList, "200", "[\"new\"]"},
                    WaitCase{"endpoint_goes", Meanwhile::endpointGoes, "503", "Not written yet\n"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace zqn::web
