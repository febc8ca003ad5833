#include <QCoreApplication>

#include <gtest/gtest.h>

// The fetch runs on the event loop, so every test of this executable has one at hand.
int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
