#pragma once
// Root writes through any permission bits.  While a HeldToPermissions lives, the calling
// thread lacks the capabilities that allow it, so a folder of mode 0555 cannot be written
// by anyone: the tests of unwritable folders then hold for root (CI) as for a user.
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

class HeldToPermissions {
  public:
    HeldToPermissions() {
        if (geteuid() != 0)
            return;
        header_.version = _LINUX_CAPABILITY_VERSION_3;
        syscall(SYS_capget, &header_, saved_);
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        held_ = syscall(SYS_capset, &header_, reduced) == 0;
    }
    ~HeldToPermissions() {
        if (held_)
            syscall(SYS_capset, &header_, saved_);
    }
    HeldToPermissions(const HeldToPermissions&) = delete;
    HeldToPermissions& operator=(const HeldToPermissions&) = delete;

  private:
    __user_cap_header_struct header_{};
    __user_cap_data_struct saved_[2]{};
    bool held_ = false;
};
