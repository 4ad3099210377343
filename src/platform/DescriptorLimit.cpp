#include "platform/DescriptorLimit.h"

#include <algorithm>
#include <sys/resource.h>

namespace platform {

namespace {

constexpr rlim_t HighestUsable = 65536;

} // namespace

void RaiseDescriptorLimit() {
    rlimit Limit{};
    if (::getrlimit(RLIMIT_NOFILE, &Limit) != 0) return;
    const rlim_t Wanted =
        Limit.rlim_max == RLIM_INFINITY ? HighestUsable : std::min(Limit.rlim_max, HighestUsable);
    if (Limit.rlim_cur != RLIM_INFINITY && Limit.rlim_cur >= Wanted) return;
    Limit.rlim_cur = Wanted;
    ::setrlimit(RLIMIT_NOFILE, &Limit);
}

} // namespace platform
