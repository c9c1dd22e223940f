#include "openforms.h"

#include <QHBoxLayout>
#include <algorithm>

#include "mainform.h"
#include "qwinwidget.h"

namespace console {

std::vector<OpenForm>& openForms() {
    static std::vector<OpenForm> forms;
    return forms;
}

QString backgroundStyle(int red, int green, int blue) {
    return QStringLiteral("QWidget#widgetMain{background-color: rgb(%1, %2, %3);}")
        .arg(red)
        .arg(green)
        .arg(blue);
}

static std::vector<OpenForm>::iterator findForm(NxWindowHandle hostWindow) {
    auto& forms = openForms();
    return std::find_if(forms.begin(), forms.end(),
                        [hostWindow](const OpenForm& f) { return f.hostWindow == hostWindow; });
}

bool showDialog(uiParam* placement, init_param* data, ZoneInfo* zones, init_param* positionBlocks,
                int32_t blockCount, void* hostContext) {
    if (placement == nullptr) {
        return true;
    }
    auto* widget = new QWinWidget(static_cast<WId>(placement->hostWindow));
    widget->show();
    auto* layout = new QHBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    widget->setObjectName(QStringLiteral("widgetMain"));
    widget->setStyleSheet(backgroundStyle(placement->red, placement->green, placement->blue));
    auto* form = new MainForm(widget, data, zones, positionBlocks, blockCount, hostContext,
                              placement->reserved);
    widget->resize(form->size());
    widget->move(placement->x, placement->y);
    layout->addWidget(form);
    openForms().push_back({placement->hostWindow, widget, form});
    widget->show();
    return true;
}

void closeDialog(NxWindowHandle hostWindow) {
    auto it = findForm(hostWindow);
    if (it == openForms().end()) {
        return;
    }
    QPointer<QWinWidget> widget = it->widget;
    QPointer<MainForm> form = it->form;
    openForms().erase(it);
    if (form != nullptr && form->inHostCall()) {
        // Called from a host callback: the form's own code is still on the stack. The session
        // ends now (a playback's BYE goes out), the rest once control is back in the event loop.
        form->closeSession();
        if (widget != nullptr) {
            widget->hide();
            widget->deleteLater();
        }
        return;
    }
    delete widget.data();  // the form is its child
}

bool autoRefresh(init_param* /*positionBlocks*/, int32_t /*blockCount*/,
                 NxWindowHandle hostWindow) {
    findForm(hostWindow);  // the replay form shows nothing of the operator positions
    return true;
}

bool autoRefreshTour(init_param* /*tourBlock*/, NxWindowHandle hostWindow) {
    findForm(hostWindow);  // nor of the tours
    return true;
}

void closeAll() {
    while (!openForms().empty()) {
        closeDialog(openForms().front().hostWindow);
    }
}

}  // namespace console
