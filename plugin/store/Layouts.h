#pragma once
// Monitor layouts (TB6005) and the current monitor of a level (TB6008), shared by the display
// modes and the screen information.
#include "PlugOrvex.h"

// Inserts the layout and reads its number back in one transaction; 0 on failure.
int InsertLayout(CPlugOrvex& self, const MonitorLayout& layout);
// Writes the layout's screens into the stored row 'number'.
enum class LayoutUpdate { Updated, Missing, Failed };
LayoutUpdate UpdateLayout(CPlugOrvex& self, const MonitorLayout& layout, int number);
// Stores the layout number as the level's current monitor; that row's number, 0 on failure.
int StoreCurrentMonitor(CPlugOrvex& self, int layoutNo);
// Reads layout display.layout.F6005_NO into display (getMonitorInfoItem).
void ReadLayout(CPlugOrvex& self, DispatcherMonitorInfo& display);
// Statement texts of a layout's screens: the code decides whether a screen is set.
bool ScreenIsSet(const ScreenCamera& screen);
// Makes every text field of a screen NUL-terminated within its size, cut at a character
// boundary.
void TerminateScreen(ScreenCamera& screen);
