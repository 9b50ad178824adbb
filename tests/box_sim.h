#pragma once

// zephrin-boxsim as a process of the test: started on construction, stopped on destruction.

#include <QProcess>
#include <QStringList>
#include <gtest/gtest.h>

#include "pty_pair.h"

class BoxSim {
public:
    explicit BoxSim(const QString& protocol)
    {
        // Answers go out in one write, so that a loaded machine cannot split them.
        sim_.start(ZEPHRIN_BOXSIM, {"--protocol", protocol, "--fast"});
        EXPECT_TRUE(sim_.waitForStarted(5000));
        EXPECT_TRUE(pumpUntil([&] { return sim_.canReadLine(); }, 5000));
        device_ = QString::fromLocal8Bit(sim_.readLine()).trimmed();
    }
    ~BoxSim()
    {
        sim_.terminate();
        sim_.waitForFinished(3000);
    } // QProcess kills a simulator that did not stop
    QString device() const { return device_; }

    // Waits for a line of the simulator's log: "< command" or "> answer".
    bool waitFor(const QString& line, int timeoutMs = 3000)
    {
        return pumpUntil(
            [&] {
                while (sim_.canReadLine())
                    lines_ << QString::fromLocal8Bit(sim_.readLine()).trimmed();
                return lines_.contains(line);
            },
            timeoutMs);
    }

private:
    QProcess sim_;
    QString device_;
    QStringList lines_;
};
