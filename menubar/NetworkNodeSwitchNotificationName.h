#pragma once

#include <QString>

// Posted, with no object, when the user has chosen another network.
inline const QString NetworkNodeSwitchNotificationName = QStringLiteral("NetworkNodeSwitchNotificationName");
