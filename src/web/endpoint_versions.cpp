#include "web/endpoint.h"

#include <QCryptographicHash>
#include <QFile>

#include <memory>
#include <system_error>

#include <microhttpd.h>
#include <unistd.h>

#include "web/content.h"

// The versions of the served files: each made once from a write, with its validator, and its gzip
// stream made at the first request that wants it.
namespace zqn::web {

namespace {

constexpr std::string_view kPageType = "text/html; charset=Shift_JIS";
constexpr std::string_view kCsvType = "text/csv; charset=Shift_JIS";
constexpr std::string_view kJsonType = "application/json; charset=utf-8";

const char* contentType(Endpoint::File file)
{
    switch (file) {
    case Endpoint::File::page:
        return kPageType.data();
    case Endpoint::File::csv:
        return kCsvType.data();
    case Endpoint::File::json:
        break;
    }
    return kJsonType.data();
}

void deleteBytes(void* bytes)
{
    delete static_cast<std::string*>(bytes);
}

// A version's file, mapped for as long as a response sends it: the library then hands the kernel
// what the socket takes in one call, where it sends a descriptor 128 KiB a call. Only the kernel
// reads the mapping, so a file cut short under it fails the send, never the process.
struct Mapping {
    QFile file;
    int descriptor = -1; // closed with the mapping once a response holds it

    ~Mapping()
    {
        file.close(); // unmaps
        if (descriptor >= 0)
            ::close(descriptor);
    }
};

void deleteMapping(void* mapping)
{
    delete static_cast<Mapping*>(mapping);
}

// The descriptor is the response's once it is made; nullptr leaves it the caller's.
MHD_Response* fileResponse(int descriptor, std::uint64_t size)
{
    auto mapping = std::make_unique<Mapping>();
    uchar* bytes = nullptr;
    if (size > 0 && mapping->file.open(descriptor, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        bytes = mapping->file.map(0, static_cast<qint64>(size));
    if (!bytes)
        return MHD_create_response_from_fd64(size, descriptor);
    MHD_Response* response =
        MHD_create_response_from_buffer_with_free_callback_cls(size, bytes, &deleteMapping, mapping.get());
    if (response) {
        mapping->descriptor = descriptor;
        mapping.release();
    }
    return response;
}

} // namespace

// Made once per version and held beside it; readers of an older version keep theirs until done.
bool Endpoint::compress(File file)
{
    Served& served = this->served(file);
    std::optional<std::string> compressed = gzipped(served.bytes, served.descriptor, served.size);
    if (!compressed)
        return false;
    auto* bytes = new std::string(std::move(*compressed));
    bytes->shrink_to_fit();
    MHD_Response* response =
        MHD_create_response_from_buffer_with_free_callback_cls(bytes->size(), bytes->data(), &deleteBytes, bytes);
    if (!response) {
        delete bytes;
        return false;
    }
    served.gzipEtag = served.etag.substr(0, served.etag.size() - 1) + "-gzip\"";
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_ENCODING, "gzip");
    MHD_add_response_header(response, MHD_HTTP_HEADER_ETAG, served.gzipEtag.c_str());
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, contentType(file));
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-cache");
    MHD_add_response_header(response, MHD_HTTP_HEADER_VARY, MHD_HTTP_HEADER_ACCEPT_ENCODING);
    served.gzip = response;
    return true;
}

bool Endpoint::serve(File file, int descriptor, std::uint64_t size)
{
    withdraw(file);
    std::string etag = contentTag(descriptor, size);
    if (etag.empty())
        return false;
    // One response for every reader, each at its own offset: the bytes are held by the file
    // system, never once per reader.
    MHD_Response* response = fileResponse(descriptor, size);
    if (!response)
        return false;
    Served version;
    version.response = response;
    version.etag = std::move(etag);
    version.size = size;
    version.descriptor = descriptor;
    return publish(file, std::move(version));
}

bool Endpoint::serve(File file, std::string bytes)
{
    withdraw(file);
    auto* held = new std::string(std::move(bytes));
    MHD_Response* response =
        MHD_create_response_from_buffer_with_free_callback_cls(held->size(), held->data(), &deleteBytes, held);
    if (!response) {
        delete held;
        return false;
    }
    std::string etag = quotedTag(QCryptographicHash::hash(QByteArrayView(held->data(), qsizetype(held->size())),
                                                          QCryptographicHash::Sha1));
    Served version;
    version.response = response;
    version.etag = std::move(etag);
    version.size = held->size();
    version.bytes = held;
    return publish(file, std::move(version));
}

bool Endpoint::publish(File file, Served version)
{
    MHD_add_response_header(version.response, MHD_HTTP_HEADER_CONTENT_TYPE, contentType(file));
    MHD_add_response_header(version.response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-cache");
    MHD_add_response_header(version.response, MHD_HTTP_HEADER_ETAG, version.etag.c_str());
    MHD_add_response_header(version.response, MHD_HTTP_HEADER_VARY, MHD_HTTP_HEADER_ACCEPT_ENCODING);
    served(file) = std::move(version);
    return true;
}

void Endpoint::withdraw(File file)
{
    if (file == File::csv) {
        ++csvVersion_;
        withdraw(File::json);
    }
    Served& target = served(file);
    // Readers still being served keep the old version until they are done.
    if (target.response)
        MHD_destroy_response(target.response);
    if (target.gzip)
        MHD_destroy_response(target.gzip);
    target = {};
}

void Endpoint::makeJson()
{
    std::string csv;
    if (csv_.bytes)
        csv = *csv_.bytes;
    else if (!readPieces(csv_.descriptor, csv_.size, [&csv](std::string_view piece) {
                 csv.append(piece);
                 return true;
             }))
        return;
    if (jsonMaker_.joinable())
        jsonMaker_.join(); // the last one is done: jsonMaking_ is false
    const auto make = [this, csv = std::move(csv), version = csvVersion_, convert = jsonFromCsv_] {
        std::string json;
        try {
            json = convert(csv);
        } catch (...) {
            json.clear(); // answered 503, as a file not written
        }
        QMetaObject::invokeMethod(
            this, [this, json = std::move(json), version]() mutable { jsonMade(std::move(json), version); },
            Qt::QueuedConnection);
    };
    // Where no thread can be had, the request is answered 503 rather than the loop held.
    try {
        jsonMaker_ = std::thread(make);
        jsonMaking_ = true;
    } catch (const std::system_error&) {
        jsonMaking_ = false;
    }
}

void Endpoint::jsonMade(std::string json, std::uint64_t csvVersion)
{
    jsonMaking_ = false;
    if (csvVersion == csvVersion_ && !json.empty())
        serve(File::json, std::move(json));
    resumeWaiting();
    if (daemon_)
        run();
}

void Endpoint::resumeWaiting()
{
    for (MHD_Connection* connection : waiting_)
        MHD_resume_connection(connection);
    waiting_.clear();
}

} // namespace zqn::web
