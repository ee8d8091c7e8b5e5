#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

// A violated property must crash the run, so that libFuzzer keeps the input that caused it.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition))                                                                          \
            ::zqn::fuzz::fail(#condition, __FILE__, __LINE__);                                     \
    } while (false)

namespace zqn::fuzz {

[[noreturn]] inline void fail(const char* condition, const char* file, int line)
{
    std::fprintf(stderr, "property violated: %s (%s:%d)\n", condition, file, line);
    std::abort();
}

// What the monitor itself puts into a MAC text: upper-case hex pairs, some possibly empty,
// joined by five ":".
inline bool isMacLike(std::string_view text)
{
    if (text.size() > 17)
        return false;
    int colons = 0;
    for (const char c : text) {
        if (c == ':')
            ++colons;
        else if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return colons == 5;
}

// Every CR is followed by LF and every LF follows a CR.
inline bool hasOnlyCrLfBreaks(std::string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'))
            return false;
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            return false;
    }
    return true;
}

// Lines each followed by CR LF, none holding a CR or LF of its own.
inline bool isCrLfLineSequence(std::string_view text)
{
    return hasOnlyCrLfBreaks(text) && (text.empty() || text.ends_with("\r\n"));
}

} // namespace zqn::fuzz
