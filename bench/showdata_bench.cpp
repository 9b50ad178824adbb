// SPDX-License-Identifier: GPL-3.0-or-later
// ShowData of a 64-character burst into the real terminal pane holding 0, 4000, 8000 and 16000
// characters, and of a burst that makes the pane trim, in one run. An ordinary burst should cost
// the same whatever the pane holds.

#include "app/frmZephrin.h"
#include "bench_support.h"
#include "frontend/qt_platform.h"

#include <QApplication>
#include <benchmark/benchmark.h>

namespace {

struct Window {
    QtPlatform platform;
    frmZephrin form{platform.bundle()};
    RichTextBox& pane = platform.toolkit.richTextBox("txtTerm");

    Window() { form.protocol = "1"; }
};

QString paneText(int size)
{
    QString text;
    while (text.size() < size)
        text += "TX1\r\nRX2S\r\nFW1.2\r\n";
    text.truncate(size);
    return text;
}

const QString Burst = QString("RX1\rTX2\rFW1.2 AUX105 ?RX RX2S\r").leftJustified(64, '.');

// The pane holds the given number of characters; after each burst the text it added is taken
// away again outside the timing, so every burst meets the same pane.
void Burst64(benchmark::State& state)
{
    Window window;
    const int size = int(state.range(0));
    window.pane.setText(paneText(size));
    QCoreApplication::processEvents();
    for (auto _ : state) {
        QString data = Burst;
        window.form.ShowData(window.pane, data);
        state.PauseTiming();
        window.pane.setSelStart(size);
        window.pane.setSelLength(int(window.pane.text().size()) - size);
        window.pane.setSelText({});
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
}

void BurstThatTrims(benchmark::State& state)
{
    Window window;
    const QString before = paneText(16001);
    for (auto _ : state) {
        state.PauseTiming();
        window.pane.setText(before);
        QString data = Burst;
        state.ResumeTiming();
        window.form.ShowData(window.pane, data);
    }
}

} // namespace

BENCHMARK(Burst64)->Arg(0)->Arg(4000)->Arg(8000)->Arg(16000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BurstThatTrims)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv)
{
    const bench::OffscreenRun run;
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
