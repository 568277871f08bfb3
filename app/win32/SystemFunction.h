#pragma once

#include <windows.h>

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

}  // namespace quelvar
