#pragma once

#include <string_view>

namespace zqn::text {

// Takes a file's bytes piece by piece, so that a large file need not be held whole.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual void write(std::string_view bytes) = 0;
};

} // namespace zqn::text
