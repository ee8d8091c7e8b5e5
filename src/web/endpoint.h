#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "web/metrics.h"

struct MHD_Daemon;
struct MHD_Connection;
struct MHD_Response;
class QSocketNotifier;

namespace zqn::web {

// The read-only HTTP endpoint: "/" (the list page), "/devices.csv", "/devices.json" and
// "/metrics", GET and HEAD. The files go gzip-compressed to a client that accepts that.
// It knows routes and limits, not the monitor: its owner hands it each file as written and a way
// to read the metrics. Everything runs on the thread of the event loop that owns it; the HTTP
// library is driven from that loop and never blocks it.
class Endpoint : public QObject {
    Q_OBJECT

public:
    // Any host on the LAN may be hostile.
    struct Limits {
        unsigned connections = 64;
        unsigned connectionsPerAddress = 16;
        int requestSeconds = 10; // to send a whole request, and longest pause while reading
        // to take a whole answer: the largest page, about 19 MB, at 1 MB/s with room to spare.
        // It also bounds how long a replaced file stays held by a reader.
        int responseSeconds = 60;
        std::size_t headerBytes = 8 * 1024; // the request line, query included, and the headers
    };
    enum class File { page, csv, json };

    explicit Endpoint(std::function<Metrics()> metrics, QObject* parent = nullptr);
    ~Endpoint() override;

    // host: a literal IPv4 or IPv6 address, or empty for every address. port 0 takes any free
    // one. brokenPipeIgnored: the process ignores SIGPIPE, so the library may use sendfile.
    // Returns what went wrong, or an empty text once it listens.
    QString listen(const QString& host, quint16 port, bool brokenPipeIgnored, const Limits& limits);
    // The errno that the last failed listen left, 0 when it said nothing.
    int listenErrno() const { return listenErrno_; }
    quint16 port() const;

    // Serves the open file behind descriptor from now on (the endpoint closes it), so that later
    // replaces of the file on disk do not change what a reader already started. The validator
    // follows the bytes: a rewrite with the same content keeps it. False when the library could
    // not take it: the descriptor is still the caller's, and the file answers 503.
    bool serve(File file, int descriptor, std::uint64_t size);
    // Serves bytes held in memory from now on.
    bool serve(File file, std::string bytes);
    // Answers 503 until the next serve.
    void withdraw(File file);
    // "/devices.json" is made from each version of the CSV file by convert, at the first request
    // for it, and held until the next version. convert runs on a thread of its own, so that a
    // large list never holds up the event loop; the requests wait for it.
    void deriveJson(std::function<std::string(std::string_view csv)> convert) { jsonFromCsv_ = std::move(convert); }

private:
    // One version of a file. Its compressed form is made at the first request that wants it.
    struct Served {
        MHD_Response* response = nullptr;
        std::string etag;
        std::uint64_t size = 0;
        int descriptor = -1;                // owned by response; -1 for bytes in memory
        const std::string* bytes = nullptr; // owned by response
        MHD_Response* gzip = nullptr;
        std::string gzipEtag;
    };

    // Since when (ms on clock_) a connection waits for a whole request, or is being answered.
    struct Connection {
        std::int64_t since = 0;
        bool answering = false;
        bool dropped = false;
    };

    void run();
    void track(MHD_Connection* connection, bool answering);
    void dropStalledConnections();
    int answer(MHD_Connection* connection, const char* url, const char* method);
    int answerFile(MHD_Connection* connection, File file);
    bool compress(File file);
    bool publish(File file, Served served);
    void makeJson();
    void jsonMade(std::string json, std::uint64_t csvVersion);
    void resumeWaiting();
    Served& served(File file) { return file == File::page ? page_ : file == File::csv ? csv_ : json_; }

    friend struct Callbacks; // the library's C callbacks

    std::function<Metrics()> metrics_;
    Limits limits_;
    MHD_Daemon* daemon_ = nullptr;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer timeout_;  // when the library next has work without any socket becoming ready
    QTimer stallCheck_;
    QElapsedTimer clock_;
    std::unordered_map<MHD_Connection*, Connection> connections_;
    bool closedInRun_ = false;
    Served page_;
    Served csv_;
    Served json_;
    std::function<std::string(std::string_view csv)> jsonFromCsv_;
    std::uint64_t csvVersion_ = 0; // counts the CSV versions served, so that late JSON is known
    bool jsonMaking_ = false;
    std::thread jsonMaker_;
    std::vector<MHD_Connection*> waiting_; // suspended until the JSON is made
    bool stopping_ = false;
    QString lastLog_;
    int listenErrno_ = 0;
};

} // namespace zqn::web
