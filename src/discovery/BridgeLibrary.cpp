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

// Linkers put the PE header within the first few hundred bytes; an offset past 64 KiB is no
// program file.
constexpr LONG kMaxHeaderOffset = 0x10000;

bool ReadAt(HANDLE file, LONG offset, void* buffer, DWORD size) {
    DWORD read = 0;
    return ::SetFilePointer(file, offset, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
           ::ReadFile(file, buffer, size, &read, nullptr) && read == size;
}

struct Loaded {
    HMODULE module;
    BridgeLoadError error;
};

// Loads the library from a full path, or says why it could not: a file of the other bitness
// fails with ERROR_BAD_EXE_FORMAT, but only its header tells which bitness it is.
Loaded LoadFrom(const std::string& path) {
    if (HMODULE module = ::LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH))
        return {module, BridgeLoadError::None};
    const int bits = BridgeLibrary::ImageBits(path.c_str());
    const bool otherBitness = bits != 0 && bits != BridgeLibrary::kProcessBits;
    return {nullptr, otherBitness ? BridgeLoadError::OtherBitness : BridgeLoadError::Missing};
}

// Full paths only, so no look-alike DLL in the current directory or on PATH is ever loaded. A
// library of the other bitness in either folder is the reason given when neither loads.
Loaded LoadFromTrustedFolders() {
    Loaded beside{nullptr, BridgeLoadError::Missing};
    // MAX_PATH counts UTF-16 units; in UTF-8 each takes up to three bytes.
    char path[3 * MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof(path));
    if (length > 0 && length < sizeof(path)) {
        beside = LoadFrom(FolderOf(path) + BridgeLibrary::kFileName);
        if (beside.module)
            return beside;
    }
    const UINT systemLength = ::GetSystemDirectoryA(path, sizeof(path));
    if (systemLength > 0 && systemLength < sizeof(path)) {
        const Loaded system = LoadFrom(std::string(path) + "\\" + BridgeLibrary::kFileName);
        if (system.module || system.error == BridgeLoadError::OtherBitness)
            return system;
    }
    return beside;
}
} // namespace

int BridgeLibrary::ImageBits(const char* path) {
    HANDLE file = ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    // "PE\0\0", the file header, then the optional header, whose first field tells PE32 from PE32+.
    constexpr LONG kMagicOffset = sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER);
    IMAGE_DOS_HEADER dos{};
    DWORD signature = 0;
    WORD magic = 0;
    const bool read = ReadAt(file, 0, &dos, sizeof(dos)) && dos.e_magic == IMAGE_DOS_SIGNATURE &&
                      dos.e_lfanew > 0 && dos.e_lfanew < kMaxHeaderOffset &&
                      ReadAt(file, dos.e_lfanew, &signature, sizeof(signature)) &&
                      signature == IMAGE_NT_SIGNATURE &&
                      ReadAt(file, dos.e_lfanew + kMagicOffset, &magic, sizeof(magic));
    ::CloseHandle(file);
    if (!read)
        return 0;
    if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC)
        return 32;
    if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        return 64;
    return 0;
}

bool BridgeLibrary::Bind(HMODULE module) {
    return BindOrdinal(module, 1, Count) && BindOrdinal(module, 3, Open) &&
           BindOrdinal(module, 4, Close) && BindOrdinal(module, 12, ProductText) &&
           BindOrdinal(module, 13, SerialText) && BindOrdinal(module, 14, Vid) &&
           BindOrdinal(module, 15, Pid);
}

BridgeLibrary* BridgeLibrary::Get(BridgeLoadError* why) {
    static BridgeLibrary library;
    static bool bound = false;
    BridgeLoadError error = BridgeLoadError::None;
    if (!bound) {
        const Loaded loaded = LoadFromTrustedFolders();
        error = loaded.error;
        if (loaded.module && !library.Bind(loaded.module)) {
            ::FreeLibrary(loaded.module);
            error = BridgeLoadError::MissingCall;
        }
        bound = error == BridgeLoadError::None;
    }
    if (why)
        *why = error;
    return bound ? &library : nullptr;
}
