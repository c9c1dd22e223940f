#include "PluginHost.h"

#include <dlfcn.h>

#include <QFileInfo>

PluginHost::~PluginHost() {
    unload();
}

const char* PluginHost::outcomeName(Outcome outcome) {
    static const char* const names[] = {
        "ok", "missing file", "not a library", "missing entry", "create failed", "view failed"};
    return names[static_cast<int>(outcome)];
}

PluginHost::Outcome PluginHost::load(const QString& path) {
    if (!QFileInfo(path).isFile()) {
        m_error = "no such file: " + path;
        return Outcome::MissingFile;
    }
    m_library = ::dlopen(path.toLocal8Bit().constData(), RTLD_NOW | RTLD_LOCAL);
    if (m_library == nullptr) {
        m_error = QString::fromLocal8Bit(::dlerror());
        return Outcome::NotALibrary;
    }
    auto create = reinterpret_cast<CreatePlugInFn>(::dlsym(m_library, "CreatePlugIn"));
    if (create == nullptr) {
        m_error = "no CreatePlugIn in " + path;
        return Outcome::MissingEntry;
    }
    m_plugIn = create(0);
    if (m_plugIn == nullptr) {
        m_error = "CreatePlugIn returned null";
        return Outcome::CreateFailed;
    }
    return Outcome::Ok;
}

PluginHost::Outcome PluginHost::openView(CVGHostWindow* parent, int left, int top, int right,
                                         int bottom) {
    if (m_plugIn == nullptr)
        return Outcome::CreateFailed;
    if (m_plugIn->OpenView(parent, left, top, right, bottom, 0, 0, 0) != 1) {
        m_error = "OpenView returned 0: the UI library did not load (see the plug-in log)";
        return Outcome::ViewFailed;
    }
    return Outcome::Ok;
}

void PluginHost::unload() {
    delete m_plugIn;  // closes the form and unloads the UI library
    m_plugIn = nullptr;
    if (m_library != nullptr)
        ::dlclose(m_library);
    m_library = nullptr;
}
