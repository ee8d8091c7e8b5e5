#pragma once

#include <string>
#include <string_view>

#include "text/byte_sink.h"

namespace zqn::test {

// What a writer passed on, joined, and in how many pieces.
struct GatheredBytes final : text::ByteSink {
    std::string bytes;
    int pieces = 0;
    void write(std::string_view piece) override
    {
        bytes.append(piece);
        ++pieces;
    }
};

} // namespace zqn::test
