#pragma once

#include <QUrl>

// Opens addresses in the user's default browser.
class Workspace {
public:
    virtual ~Workspace() = default;
    virtual bool openURL(const QUrl &url) = 0; // true when the browser was asked successfully

    static Workspace &sharedWorkspace();
    static void setSharedForTesting(Workspace *workspace); // nullptr restores the real one
};
