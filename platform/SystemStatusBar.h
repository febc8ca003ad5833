#pragma once

#include "platform/StatusItem.h"

#include <memory>

// Where the program gets its panel item.
class SystemStatusBar {
public:
    // A StatusNotifierItem on the session bus, with the strip window standing in whenever no
    // org.kde.StatusNotifierWatcher has accepted it.
    static std::unique_ptr<StatusItem> statusItemWithLength(double length);
};
