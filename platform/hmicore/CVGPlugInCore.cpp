#include "CVGPlugInCore.h"

CVGPlugInCore::~CVGPlugInCore() = default;

int32_t CVGPlugInCore::HostSlot7(int32_t) {
    return 0;
}
int32_t CVGPlugInCore::HostSlot8(CVGHostValue) {
    return 0;
}
int32_t CVGPlugInCore::HostSlot9() {
    return 0;
}
void CVGPlugInCore::HostSlot10(int32_t, int32_t) {}
