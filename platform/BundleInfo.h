#pragma once

#include <QString>
#include <QVariantMap>

// The application's information dictionary: "CFBundleShortVersionString" (the project version) and
// "CFBundleVersion" (the build number), both fixed when the program is configured.
class BundleInfo {
public:
    static QVariantMap infoDictionary();
    // Tests replace the dictionary; passing an empty map restores the built-in one.
    static void overrideForTesting(const QVariantMap &info);
};
