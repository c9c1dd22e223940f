// A library for the loader tests to find beside the test program.
#include "nx_export.h"

extern "C" NX_EXPORT int NxWinProbeAnswer() {
    return 42;
}
