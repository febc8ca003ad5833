#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

// Makes file permissions apply to this process while it lives, also when the tests run as root:
// drops CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH from the effective set and restores them afterwards.
class ScopedPermissionChecks {
public:
    ScopedPermissionChecks() { m_dropped = setOverride(false); }
    ~ScopedPermissionChecks() {
        if (m_dropped)
            setOverride(true);
    }
    ScopedPermissionChecks(const ScopedPermissionChecks &) = delete;
    ScopedPermissionChecks &operator=(const ScopedPermissionChecks &) = delete;

private:
    static bool setOverride(bool on) {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2]{};
        if (syscall(SYS_capget, &header, data) != 0)
            return false;
        const unsigned bits = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
        if (on)
            data[0].effective |= bits & data[0].permitted;
        else
            data[0].effective &= ~bits;
        return syscall(SYS_capset, &header, data) == 0;
    }

    bool m_dropped = false;
};
