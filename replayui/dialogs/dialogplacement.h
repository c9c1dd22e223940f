#pragma once
// Places a notice centred on the screen column under the pointer: screens of the primary
// screen's width side by side, vertically centred on the whole desktop.
#include <QPoint>
#include <QSize>

class QWidget;

// Top-left corner for a dialog of dialogSize when the pointer is at pos. Columns are
// ceil(x / screenWidth) - 1, kept within 0 .. columnCount - 1.
QPoint pointerPlacement(const QPoint& pos, int screenWidth, int desktopHeight, int columnCount,
                        const QSize& dialogSize);

// Moves dialog by pointerPlacement with the current screens.
void placeUnderPointer(QWidget* dialog, const QPoint& pos);
