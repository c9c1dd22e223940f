#include "sessiontimings.h"

namespace {
bool g_overridden = false;
SessionTimings g_override;
}  // namespace

SessionTimings SessionTimings::current(const SessionTimings& configured) {
    return g_overridden ? g_override : configured;
}

void SessionTimings::setOverride(const SessionTimings* timings) {
    g_overridden = timings != nullptr;
    if (timings != nullptr) {
        g_override = *timings;
    }
}

SessionTimings SessionTimings::current() {
    return current(SessionTimings());
}
