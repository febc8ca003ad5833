#include "api/NetworkAccess.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>

#include <gtest/gtest.h>

// The requests need an event loop on the main thread, as in the program.
int main(int argc, char **argv) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    // Closes cached TLS connections while the application object still exists.
    NetworkAccess::manager().clearConnectionCache();
    return result;
}
