#include "platform/DesktopWorkspace.h"

#include <QDesktopServices>

bool DesktopWorkspace::openURL(const QUrl &url) {
    return QDesktopServices::openUrl(url);
}
