#include "platform/BundleInfo.h"

#include "platform/BuildConfig.h"

namespace {
QVariantMap &overridden() {
    static QVariantMap info;
    return info;
}
} // namespace

QVariantMap BundleInfo::infoDictionary() {
    if (!overridden().isEmpty())
        return overridden();
    return {{QStringLiteral("CFBundleShortVersionString"), QStringLiteral(GWEIBAR_VERSION)},
            {QStringLiteral("CFBundleVersion"), QStringLiteral(GWEIBAR_BUILD_NUMBER)}};
}

void BundleInfo::overrideForTesting(const QVariantMap &info) {
    overridden() = info;
}
