#pragma once

#include "platform/Workspace.h"

#include <QList>
#include <QUrl>

// Answers openURL with a fixed result; installs itself as the shared workspace while it lives.
class FakeWorkspace : public Workspace {
public:
    explicit FakeWorkspace(bool opens)
        : opens(opens) {
        Workspace::setSharedForTesting(this);
    }
    ~FakeWorkspace() override { Workspace::setSharedForTesting(nullptr); }

    bool openURL(const QUrl &url) override {
        urls.append(url);
        return opens;
    }

    bool opens;
    QList<QUrl> urls;
};
