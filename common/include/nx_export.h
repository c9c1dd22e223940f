#pragma once
// Marks a C function exported from one of the shared libraries; everything else stays hidden,
// so each library keeps its own copy of the code it links statically (the log above all).
#if defined(__GNUC__)
#define NX_EXPORT __attribute__((visibility("default")))
#else
#define NX_EXPORT
#endif
