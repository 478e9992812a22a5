#include "discovery/BridgeLibrary.h"

#include <string>

namespace {
template <typename Fn> bool BindOrdinal(HMODULE module, WORD ordinal, Fn& fn) {
    fn = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(::GetProcAddress(module, MAKEINTRESOURCEA(ordinal))));
    return fn != nullptr;
}

std::string FolderOf(const char* path) {
    std::string folder = path;
    const size_t slash = folder.find_last_of("\\/");
    folder.erase(slash == std::string::npos ? 0 : slash + 1);
    return folder;
}

// Full paths only, so no look-alike DLL in the current directory or on PATH is ever loaded.
HMODULE LoadFromTrustedFolders() {
    // MAX_PATH counts UTF-16 units; in UTF-8 each takes up to three bytes.
    char path[3 * MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof(path));
    if (length > 0 && length < sizeof(path)) {
        const std::string beside = FolderOf(path) + BridgeLibrary::kFileName;
        if (HMODULE module =
                ::LoadLibraryExA(beside.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH))
            return module;
    }
    const UINT systemLength = ::GetSystemDirectoryA(path, sizeof(path));
    if (systemLength > 0 && systemLength < sizeof(path)) {
        const std::string system = std::string(path) + "\\" + BridgeLibrary::kFileName;
        return ::LoadLibraryExA(system.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    return nullptr;
}
} // namespace

bool BridgeLibrary::Bind(HMODULE module) {
    return BindOrdinal(module, 1, Count) && BindOrdinal(module, 3, Open) &&
           BindOrdinal(module, 4, Close) && BindOrdinal(module, 12, ProductText) &&
           BindOrdinal(module, 13, SerialText) && BindOrdinal(module, 14, Vid) &&
           BindOrdinal(module, 15, Pid);
}

BridgeLibrary* BridgeLibrary::Get() {
    static BridgeLibrary library;
    static bool bound = false;
    if (bound)
        return &library;
    HMODULE module = LoadFromTrustedFolders();
    if (!module)
        return nullptr;
    if (!library.Bind(module)) {
        ::FreeLibrary(module);
        return nullptr;
    }
    bound = true;
    return &library;
}
