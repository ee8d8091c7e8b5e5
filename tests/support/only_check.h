#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string_view>

// Skips a test that is the only check of a behaviour, for a missing tool or privilege. Under
// CI=true, where the machines have both, such a skip would hide a fault: it fails instead.
#define ZQN_SKIP_ONLY_CHECK(reason)                                                                 \
    do {                                                                                           \
        if (const char* ci = std::getenv("CI"); ci && std::string_view(ci) == "true")              \
            FAIL() << "skipped under CI=true: " << reason;                                         \
        GTEST_SKIP() << reason;                                                                    \
    } while (false)
