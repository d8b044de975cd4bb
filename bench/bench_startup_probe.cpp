// SPDX-License-Identifier: GPL-3.0-or-later
// The program's own start (application, font, acquisition window, show),
// ending with status 0 as soon as the window has been exposed and painted.
#include "FrmMultiBuf.h"
#include "widgets.h"

#include <QApplication>
#include <QTimer>
#include <QWindow>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("moxpanel"));
    mox::ApplyDefaultFont(app);
    FrmMultiBuf window;
    window.show();
    QTimer poll;
    poll.setInterval(0);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (window.windowHandle() && window.windowHandle()->isExposed()) {
            window.repaint();
            QCoreApplication::exit(0);
        }
    });
    poll.start();
    return QApplication::exec();
}
