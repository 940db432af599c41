// Tests that check Zuv against an outside program (python3, gzip, zstd) skip
// where the program is missing, except under CI (CI=true): CI installs every
// one of them, so a skip there would hide a broken install step and let the
// check go unrun unnoticed.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace zuv::testing {

inline bool under_ci_q() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::strcmp(ci, "true") == 0;
}

}  // namespace zuv::testing

// Ends the test when `present` is false: a failure under CI, else a skip.
// A macro, as GTEST_SKIP and FAIL return from the test body.
#define ZUV_NEEDS_TOOL(present, what)                                                              \
    do {                                                                                           \
        if (!(present)) {                                                                          \
            if (::zuv::testing::under_ci_q()) FAIL() << (what) << " (CI must have it)";            \
            GTEST_SKIP() << (what);                                                                \
        }                                                                                          \
    } while (0)
