#include "platform/Workspace.h"

#include "platform/DesktopWorkspace.h"

namespace {
Workspace *replacement = nullptr;
}

Workspace &Workspace::sharedWorkspace() {
    static DesktopWorkspace desktop;
    return replacement ? *replacement : desktop;
}

void Workspace::setSharedForTesting(Workspace *workspace) {
    replacement = workspace;
}
