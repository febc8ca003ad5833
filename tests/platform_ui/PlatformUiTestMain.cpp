#include "PrivateSessionBus.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests needs neither a bus nor a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--gtest_list_tests") == 0)
            return RUN_ALL_TESTS();
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
#ifdef GWEIBAR_TEST_SCALE_FACTOR
    qputenv("QT_SCALE_FACTOR", GWEIBAR_TEST_SCALE_FACTOR);
#endif
    PrivateSessionBus bus;
    if (bus.address().isEmpty()) {
        std::fprintf(stderr, "cannot start a private dbus-daemon\n");
        return 1;
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address());
    int result = 0;
    {
        QApplication app(argc, argv);
        result = RUN_ALL_TESTS();
    }
    return result;
}
