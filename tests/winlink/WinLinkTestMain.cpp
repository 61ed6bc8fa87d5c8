// Test main for the Win32 link tests: takes --record-log=PATH (the plain
// port simulator's record log) before handing the rest to GoogleTest.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "LinkTestSupport.h"

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    const char* const LOG_OPTION = "--record-log=";
    for (int k = 1; k < argc; ++k) {
        if (std::strncmp(argv[k], LOG_OPTION, std::strlen(LOG_OPTION)) == 0) {
            g_testConfig.recordLogPath = argv[k] + std::strlen(LOG_OPTION);
        }
    }
    return RUN_ALL_TESTS();
}
