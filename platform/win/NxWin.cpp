#include "NxWin.h"

#include <dlfcn.h>
#include <unistd.h>

namespace {

thread_local DWORD t_lastError = 0;
thread_local std::string t_lastErrorText;

void SetError(DWORD code, const char* text) {
    t_lastError = code;
    t_lastErrorText = text ? text : "";
}

bool Exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

const std::string kDll = ".dll";

bool EndsWithDll(const std::string& name) {
    return name.size() >= kDll.size() &&
           name.compare(name.size() - kDll.size(), kDll.size(), kDll) == 0;
}

}  // namespace

std::string NxCompleteUiLibraryName(const std::string& configured) {
    std::string name = configured.empty() ? std::string("Tarnui") : configured;
    if (name.find(kDll) == std::string::npos)
        name += "d.dll";
    return name;
}

std::string NxSharedObjectName(const std::string& dllName) {
    const std::size_t slash = dllName.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : dllName.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? dllName : dllName.substr(slash + 1);
    if (EndsWithDll(base))
        base.resize(base.size() - kDll.size());
    return folder + "lib" + base + ".so";
}

std::string NxThisModuleDirectory() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&NxThisModuleDirectory), &info) == 0 || !info.dli_fname)
        return {};
    const std::string path = info.dli_fname;
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

HMODULE LoadLibraryA(const char* name) {
    if (!name || !*name) {
        SetError(NX_ERROR_MOD_NOT_FOUND, "empty library name");
        return nullptr;
    }
    const std::string object = NxSharedObjectName(name);
    std::string candidate = object;
    if (object.find('/') == std::string::npos) {
        const std::string beside = NxThisModuleDirectory() + "/" + object;
        if (Exists(beside))
            candidate = beside;
    }
    dlerror();
    HMODULE module = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        SetError(NX_ERROR_MOD_NOT_FOUND, dlerror());
        return nullptr;
    }
    SetError(0, nullptr);
    return module;
}

FARPROC GetProcAddress(HMODULE module, const char* symbol) {
    if (!module || !symbol) {
        SetError(NX_ERROR_INVALID_HANDLE, "no module or symbol");
        return nullptr;
    }
    dlerror();
    void* address = dlsym(module, symbol);
    if (!address) {
        SetError(NX_ERROR_PROC_NOT_FOUND, dlerror());
        return nullptr;
    }
    SetError(0, nullptr);
    return reinterpret_cast<FARPROC>(address);
}

int FreeLibrary(HMODULE module) {
    if (!module) {
        SetError(NX_ERROR_INVALID_HANDLE, "no module");
        return 0;
    }
    if (dlclose(module) != 0) {
        SetError(NX_ERROR_INVALID_HANDLE, dlerror());
        return 0;
    }
    return 1;
}

DWORD GetLastError() {
    return t_lastError;
}

std::string NxLastErrorText() {
    return t_lastErrorText;
}
