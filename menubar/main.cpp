#include "menubar/AppDelegate.h"
#include "platform/ApplicationEventMonitor.h"
#include "platform/PopoverWindow.h"
#include "platform/QtPlatformChoice.h"
#include "platform/SettingsUserDefaults.h"
#include "platform/SystemStatusBar.h"

#include <QApplication>
#include <QTimer>

#include <memory>
#include <optional>

int main(int argc, char **argv) {
    // Qt reads its platform only while the application is built.
    const std::optional<QByteArray> platform =
        QtPlatformChoice::forEnvironment(QtPlatformChoice::currentEnvironment());
    if (platform)
        qputenv("QT_QPA_PLATFORM", *platform);
    QApplication app(argc, argv);
    // Programs started from here (the browser for the web page) choose for themselves.
    if (platform)
        qunsetenv("QT_QPA_PLATFORM");
    QApplication::setApplicationName(QStringLiteral("gweibar"));
    // The popovers are the only windows; closing one must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);

    SettingsUserDefaults defaults;
    UserDefaults::setStandard(&defaults);

    AppDelegate::Dependencies dependencies;
    dependencies.statusItemWithLength = [](double length) {
        return SystemStatusBar::statusItemWithLength(length);
    };
    dependencies.makePopover = []() -> std::unique_ptr<Popover> { return std::make_unique<PopoverWindow>(); };
    dependencies.eventMonitor = std::make_unique<ApplicationEventMonitor>();
    AppDelegate delegate(std::move(dependencies));

    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
    const int status = app.exec();
    UserDefaults::setStandard(nullptr);
    return status;
}
