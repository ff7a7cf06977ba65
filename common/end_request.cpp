#include "common/end_request.h"

#include <atomic>

namespace {
// A signal handler may only touch a lock-free atomic.
std::atomic<bool> endRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);
} // namespace

void RequestEnd() noexcept {
    endRequested.store(true);
}

bool EndRequested() noexcept {
    return endRequested.load();
}

void ClearEndRequestForTests() noexcept {
    endRequested.store(false);
}
