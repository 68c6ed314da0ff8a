#include "application.h"

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    // The window tests need no display; test discovery runs without the ctest environment.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
