// SPDX-License-Identifier: GPL-3.0-or-later
// Test runner for the tests that start processes: a QCoreApplication, no window.
#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
