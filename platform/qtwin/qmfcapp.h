#pragma once
// Application object for a Qt library loaded into a host that may or may not run Qt itself.

class QMfcApp {
public:
    // Makes a QApplication when the process has none. True when this call created it; the
    // caller then owns the duty to tell it to quit when the library goes away.
    static bool pluginInstance(void* module = nullptr);
};
