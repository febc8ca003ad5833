// gweibar-sniwatcher: a StatusNotifierWatcher for tests, on the session bus.
//
// Standard input takes one command per line:
//   activate X Y | secondary X Y | context X Y   call Activate, SecondaryActivate or ContextMenu on the item
//   quit                                         end the program
// End of input is ignored, so the watcher also runs with standard input closed; SIGTERM ends it.
#include "TestStatusNotifierWatcher.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    TestStatusNotifierWatcher watcher(QDBusConnection::sessionBus());
    if (!watcher.publish()) {
        std::fprintf(stderr,
                     "gweibar-sniwatcher: cannot own org.kde.StatusNotifierWatcher on the session bus\n");
        return 1;
    }
    std::puts("watching");
    std::fflush(stdout);

    QByteArray pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[512];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            input.setEnabled(false);
            return;
        }
        pending.append(buffer, n);
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QList<QByteArray> words = pending.left(end).simplified().split(' ');
            pending.remove(0, end + 1);
            static const QMap<QByteArray, QString> methods = {
                {"activate", QStringLiteral("Activate")},
                {"secondary", QStringLiteral("SecondaryActivate")},
                {"context", QStringLiteral("ContextMenu")}};
            if (words.value(0) == "quit") {
                app.quit();
            } else if (methods.contains(words.value(0)) && words.size() == 3) {
                watcher.activate(methods.value(words[0]), words[1].toInt(), words[2].toInt());
            } else if (!words.value(0).isEmpty()) {
                std::puts("error unknown command");
                std::fflush(stdout);
            }
        }
    });
    return app.exec();
}
