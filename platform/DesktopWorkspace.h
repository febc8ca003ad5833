#pragma once

#include "platform/Workspace.h"

// Opens addresses with the desktop's default handler (xdg-open and friends, through Qt).
class DesktopWorkspace : public Workspace {
public:
    bool openURL(const QUrl &url) override;
};
