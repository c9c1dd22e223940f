#pragma once
// LoadLibraryA, GetProcAddress, FreeLibrary and GetLastError over dlopen, dlsym, dlclose and
// dlerror. A library name "X.dll" is the shared object "libX.so", looked up first in the folder
// of the module that holds this code (the plug-in) and then on the loader's path.
#include <cstdint>
#include <string>

using HMODULE = void*;
using FARPROC = void (*)();
using DWORD = uint32_t;

constexpr DWORD NX_ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD NX_ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD NX_ERROR_INVALID_HANDLE = 6;

HMODULE LoadLibraryA(const char* name);
FARPROC GetProcAddress(HMODULE module, const char* symbol);
int FreeLibrary(HMODULE module);
DWORD GetLastError();
// The loader's message behind the last error code ("" when none).
std::string NxLastErrorText();

// The UI library name as the plug-in completes it: "" is "Tarnui", and a name without ".dll"
// gets "d.dll" appended (so "abc" is "abcd.dll"); a name with ".dll" stays.
std::string NxCompleteUiLibraryName(const std::string& configured);
// "X.dll" -> "libX.so", keeping any folder part; other names get "lib" and ".so" likewise.
std::string NxSharedObjectName(const std::string& dllName);
// The folder of the module (shared object or program) that holds this code.
std::string NxThisModuleDirectory();
