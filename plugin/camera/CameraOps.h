#pragma once
// Point and device lookups and the window switch step, shared with the screen store.
#include "PlugOrvex.h"

// Fills info from TB4009_DIGPOINT and the camera's device number; 1 found, 0 not.
int GetCameraInfoByCode(CPlugOrvex& self, const std::string& pointCode, camera_info& info);
// The device number of a point of the given type (1 decoder, 2 camera) into devNo.
void GetCCTVDeviceNumber(CPlugOrvex& self, int type, const std::string& pointCode,
                         char (&devNo)[48]);
// A window whose camera changed; this build sends no switching command and reports 0.
int SwitchWindow(CPlugOrvex& self, const screenset& window, bool flag);
// The division byte of a selection on this window.
unsigned char DivisionOf(const screenset& window);
