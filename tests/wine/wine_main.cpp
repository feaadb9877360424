// The Windows build's tests. They need Wine, a display and the paths ctest
// passes in; without them nothing can be tested, and that is a failure.
#include "tests/wine/wine_host.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    const std::string problem = loadWindowsBuild();
    if (!problem.empty()) {
        std::fprintf(stderr, "wine_tests: %s\n", problem.c_str());
        return 1;
    }
    setenv("WINEARCH", "win32", 0);
    setenv("WINEDEBUG", "-all", 0);
    setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 0);
    return RUN_ALL_TESTS();
}
