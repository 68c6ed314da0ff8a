#include "application.h"

#include <gtest/gtest.h>
#include <memory>

int main(int argc, char *argv[])
{
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests (CTest's discovery, run without the test environment) needs no display.
    std::unique_ptr<TApplication> application;
    int qtArgc = 1;
    if (!GTEST_FLAG_GET(list_tests))
        application = std::make_unique<TApplication>(qtArgc, argv);
    return RUN_ALL_TESTS();
}
