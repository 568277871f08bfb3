#pragma once

#include <windows.h>

#include <string>

namespace quelvar {

// Returns a function of a system DLL that the process has already loaded, or null when the
// DLL is not loaded or this version of Windows lacks the function. Nothing is loaded through
// the search path, so no planted DLL of that name can come into the process this way.
template <typename Function>
Function loadedSystemFunction(const wchar_t* module, const char* name) {
    HMODULE handle = GetModuleHandleW(module);
    if (handle == nullptr) {
        return nullptr;
    }
    // FARPROC is a generic function pointer; the cast through void* says that the caller
    // names the real type.
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(handle, name)));
}

// Returns a function of a DLL of the system directory, loading the DLL by its full path there
// (never by its bare name, which would find a planted file of that name in the program's
// folder first); null when it cannot be loaded or lacks the function. The DLL stays loaded.
template <typename Function>
Function systemFunction(const wchar_t* module, const char* name) {
    wchar_t directory[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return nullptr;
    }
    const std::wstring path = std::wstring(directory, length) + L"\\" + module;
    HMODULE handle = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (handle == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(handle, name)));
}

}  // namespace quelvar
