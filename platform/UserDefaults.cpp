#include "platform/UserDefaults.h"

#include <QtGlobal>

namespace {
UserDefaults *g_standard = nullptr;
}

UserDefaults &UserDefaults::standard() {
    Q_ASSERT_X(g_standard, "UserDefaults::standard", "no store installed");
    return *g_standard;
}

void UserDefaults::setStandard(UserDefaults *defaults) {
    g_standard = defaults;
}
