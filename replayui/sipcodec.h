#pragma once
// The codec's header uses "slots" as a member name, which Qt defines as a keyword macro once
// QObject is seen; hide the macro while the header is read.
#pragma push_macro("slots")
#undef slots
#include "CCTVCAR.h"
#pragma pop_macro("slots")
