#pragma once

#include <QByteArray>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// What the endpoint needs to know of a served file's bytes: their validator, whether a request's
// validators match it, which coding the client takes, and the gzip stream.
namespace zqn::web {

// If-None-Match holds "*" or a comma-separated list of entity tags, weak ones prefixed "W/".
bool matchesAny(const char* ifNoneMatch, std::string_view etag);

// How much a client wants each coding, in thousandths, as its Accept-Encoding says (null: none
// given).
struct Acceptance {
    int gzip = 0;
    int identity = 1000;
};
Acceptance acceptance(const char* header);

// Reads the file behind descriptor piece by piece, each given to use; false when it cannot be read
// or use says stop.
bool readPieces(int descriptor, std::uint64_t size, const std::function<bool(std::string_view)>& use);

std::string quotedTag(const QByteArray& digest);
// A validator from the bytes themselves; empty when the file cannot be read.
std::string contentTag(int descriptor, std::uint64_t size);

// The gzip stream of bytes, or of the file behind descriptor when bytes is null; nothing when it
// cannot be read or compressed.
std::optional<std::string> gzipped(const std::string* bytes, int descriptor, std::uint64_t size);

} // namespace zqn::web
