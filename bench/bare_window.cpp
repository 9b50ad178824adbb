// SPDX-License-Identifier: GPL-3.0-or-later
// The baseline of the start-up benchmark: a bare Qt program that shows an empty main window of
// Zephrin's size (a 431x145 client area under a menu bar) and nothing else.

#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle("Bare window");
    window.menuBar()->addMenu("&File")->addAction("E&xit", &app, &QCoreApplication::quit);
    auto* client = new QWidget(&window);
    client->setFixedSize(431, 145);
    window.setCentralWidget(client);
    window.show();
    return app.exec();
}
