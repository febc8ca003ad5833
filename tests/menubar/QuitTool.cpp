// The program's set-up with the real file store and the real popover window, on the offscreen platform:
//   quit_tool FILE
// applies one reply, opens the popover, clicks its Quit button and returns what the event loop returned.
// When the loop has ended, before anything is torn down, it prints "on disk at quit: " and the file.
#include "menubar/AppDelegate.h"
#include "menubar/PopViewController.h"
#include "platform/PopoverWindow.h"
#include "platform/SettingsUserDefaults.h"
#include "platform/ViewController.h"

#include "support/FakeEventMonitor.h"
#include "support/FakeStatusItem.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <utility>

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fputs("usage: quit_tool FILE\n", stderr);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    SettingsUserDefaults defaults(QString::fromLocal8Bit(argv[1]));
    UserDefaults::setStandard(&defaults);

    FakeStatusItem *item = nullptr;
    AppDelegate *delegate = nullptr;
    const auto clickQuit = [&] {
        item->fakeButton()->action();
        auto *quit = delegate->popover()->contentViewController()->view()->findChild<QAbstractButton *>(
            QStringLiteral("quitButton"));
        if (!quit || !quit->isVisible()) {
            std::fputs("quit_tool: no visible Quit button\n", stderr);
            QCoreApplication::exit(3);
            return;
        }
        QTest::mouseClick(quit, Qt::LeftButton);
    };

    AppDelegate::Dependencies d;
    d.statusItemWithLength = [&](double length) {
        auto made = std::make_unique<FakeStatusItem>(length, true);
        item = made.get();
        return made;
    };
    d.makePopover = []() -> std::unique_ptr<Popover> { return std::make_unique<PopoverWindow>(); };
    d.eventMonitor = std::make_unique<FakeEventMonitor>();
    bool replied = false;
    d.fetchGasPrice = [&](const GasStoreService::chainMessage &,
                          GasStoreService::FetchCompletion completion) {
        if (std::exchange(replied, true))
            return;
        QTimer::singleShot(0, [&, completion] {
            completion(GasStoreService::FetchResult{"12", "13.5", "15", "1800.25"});
            QTimer::singleShot(0, clickQuit);
        });
    };
    d.now = [] { return 1700000000.5; };
    AppDelegate appDelegate(std::move(d));
    delegate = &appDelegate;

    QObject::connect(&app, &QCoreApplication::aboutToQuit, [&] {
        QFile file(defaults.filePath());
        const QByteArray onDisk = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
        std::printf("on disk at quit: %s\n", onDisk.simplified().constData());
        std::fflush(stdout);
    });
    QTimer::singleShot(0, &appDelegate, &AppDelegate::applicationDidFinishLaunching);
    return app.exec();
}
