#include "sessiontimings.h"

namespace {
bool g_overridden = false;
SessionTimings g_override;
}  // namespace

SessionTimings SessionTimings::current() {
    return g_overridden ? g_override : SessionTimings();
}

void SessionTimings::setOverride(const SessionTimings* timings) {
    g_overridden = timings != nullptr;
    if (timings != nullptr) {
        g_override = *timings;
    }
}
