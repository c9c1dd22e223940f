#pragma once
// The forms shown in host windows, and what the library's exports do with them.
#include <QPointer>
#include <QString>
#include <vector>

#include "cctv_records.h"

#include "mainform.h"
#include "qwinwidget.h"

namespace console {

struct OpenForm {
    NxWindowHandle hostWindow;  // key; not unique, lookups take the first
    // Guarded: the host may destroy its window, and our widget with it, before CloseDialog.
    QPointer<QWinWidget> widget;
    QPointer<MainForm> form;
};

// Process-wide, in the order the forms were shown.
std::vector<OpenForm>& openForms();

// "QWidget#widgetMain{background-color: rgb(r, g, b);}"
QString backgroundStyle(int red, int green, int blue);

bool showDialog(uiParam* placement, init_param* data, ZoneInfo* zones, init_param* positionBlocks,
                int32_t blockCount, void* hostContext);
void closeDialog(NxWindowHandle hostWindow);
bool autoRefresh(init_param* positionBlocks, int32_t blockCount, NxWindowHandle hostWindow);
bool autoRefreshTour(init_param* tourBlock, NxWindowHandle hostWindow);
// Closes every form still open (the library is going away).
void closeAll();

}  // namespace console
