// Renders each window of the program, as the operator sees it after starting
// acquisition and opening the other two windows, into PNG files.
// Usage: window_shots <output folder>
#include "DllDef.h"
#include "FrmMultiBuf.h"
#include "widgets.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTest>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("moxpanel"));
    mox::ApplyDefaultFont(app);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(out);

    FrmMultiBuf main;
    main.show();
    QTest::mouseClick(main.findChild<QPushButton*>(QStringLiteral("cmdStart")), Qt::LeftButton);
    QTest::mouseClick(main.findChild<QPushButton*>(QStringLiteral("cmdDAOut")), Qt::LeftButton);
    QTest::mouseClick(main.findChild<QPushButton*>(QStringLiteral("cmdSW")), Qt::LeftButton);
    QTest::qWait(700);

    bool ok = true;
    const std::pair<QWidget*, const char*> windows[] = {
        {&main, "FrmMultiBuf.png"}, {main.DAWindow(), "frmDA.png"}, {main.SWWindow(), "frmSW.png"}};
    for (const auto& [window, file] : windows) {
        const QString path = out + QLatin1Char('/') + QLatin1String(file);
        const bool saved = window != nullptr && window->grab().save(path);
        std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
        ok = ok && saved;
    }
    return ok ? 0 : 1;
}
