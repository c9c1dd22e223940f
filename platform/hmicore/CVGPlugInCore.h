#pragma once
// The HMI host's plug-in base class. A host drives a plug-in library like this:
//   void* lib = dlopen(".../libin_Orvex.so", RTLD_NOW);
//   auto create = reinterpret_cast<CreatePlugInFn>(dlsym(lib, "CreatePlugIn"));
//   CVGPlugInCore* plugIn = create(0);                    // null when it cannot be made
//   CVGHostWindow page(nativeHandle, pageHeight);          // the window the view lives in
//   plugIn->OpenView(&page, left, top, right, bottom, 0, 0, 0);  // 1: the view's library loaded
//   ... the host's event loop runs; the view calls back into the plug-in by itself ...
//   delete plugIn;                                        // closes the view, unloads its library
//   dlclose(lib);
#include <cstdint>

#include "cctv_records.h"

// The host window a plug-in view lives in: its native handle and its height in pixels.
class CVGHostWindow {
public:
    CVGHostWindow() = default;
    CVGHostWindow(NxWindowHandle handle, int32_t height) : m_handle(handle), m_height(height) {}
    virtual ~CVGHostWindow() = default;

    virtual NxWindowHandle GetSafeHwnd() const { return m_handle; }
    // Height of the window's rectangle; the plug-in measures its view's y from the bottom.
    virtual int32_t GetWindowHeight() const { return m_height; }

private:
    NxWindowHandle m_handle = 0;
    int32_t m_height = 0;
};

// The 284-byte value the host hands to slot 8.
struct CVGHostValue {
    unsigned char bytes[284];
};

class CVGPlugInCore {
public:
    CVGPlugInCore() = default;
    virtual ~CVGPlugInCore();
    CVGPlugInCore(const CVGPlugInCore&) = delete;
    CVGPlugInCore& operator=(const CVGPlugInCore&) = delete;

    // Slot 1: open the view inside parent at the rectangle; 1 when the view's library loaded.
    virtual int32_t OpenView(CVGHostWindow* parent, int32_t left, int32_t top, int32_t right,
                             int32_t bottom, int32_t arg6, int32_t arg7, int32_t arg8) = 0;
    // Slots 2 to 6: host requests every plug-in answers itself.
    virtual int32_t HostSlot2(int32_t a, int32_t b, int32_t c, int32_t d) = 0;
    virtual void HostSlot3(int32_t a, int32_t b, int32_t c, int32_t d, int32_t e) = 0;
    virtual int32_t HostSlot4(int32_t a, int32_t b) = 0;
    virtual int32_t HostSlot5() = 0;
    virtual int32_t HostSlot6() = 0;
    // Slots 7 to 10: host requests with a default answer.
    virtual int32_t HostSlot7(int32_t a);
    virtual int32_t HostSlot8(CVGHostValue value);
    virtual int32_t HostSlot9();
    virtual void HostSlot10(int32_t a, int32_t b);
};

// The entry every plug-in library exports: extern "C" CVGPlugInCore* CreatePlugIn(int32_t).
using CreatePlugInFn = CVGPlugInCore* (*)(int32_t);
