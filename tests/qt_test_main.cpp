// SPDX-License-Identifier: GPL-3.0-or-later
// Test runner for the tests that need Qt's event loop: a QApplication on Qt's offscreen
// platform unless the environment names another one (Xvfb, for instance), and a settings folder
// of its own, so that no test touches the operator's settings.
#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
