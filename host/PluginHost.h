#pragma once
#include <QString>

#include "CVGPlugInCore.h"

// Loads a plug-in library, creates its object and opens its view in a host window; unloads in
// the reverse order. Each load failure has its own outcome, so the host can say what went wrong.
class PluginHost {
public:
    enum class Outcome { Ok, MissingFile, NotALibrary, MissingEntry, CreateFailed, ViewFailed };

    ~PluginHost();
    Outcome load(const QString& path);
    Outcome openView(CVGHostWindow* parent, int left, int top, int right, int bottom);
    void unload();  // deletes the plug-in (closing its view) and then the library

    QString errorText() const { return m_error; }
    CVGPlugInCore* plugIn() const { return m_plugIn; }
    static const char* outcomeName(Outcome outcome);

private:
    void* m_library = nullptr;
    CVGPlugInCore* m_plugIn = nullptr;
    QString m_error;
};
