#pragma once
// The USB-to-UART bridge maker's manufacturing library, loaded at run time and called by
// ordinal. Every call returns 0 on success.

#include <windows.h>

// Why the library could not be had.
enum class BridgeLoadError {
    None,         // loaded, every call bound
    Missing,      // no library this process can load, in either folder
    OtherBitness, // a library of the other bitness: 32-bit beside a 64-bit program, or the reverse
    MissingCall,  // loaded, but one of the calls is not in it
};

class BridgeLibrary {
  public:
    static constexpr const char* kFileName = "CP210xManufacturing.dll";
    static constexpr DWORD kProductTextSize = 128;
    static constexpr DWORD kSerialTextSize = 64;

    static constexpr int kProcessBits = sizeof(void*) * 8;

    // The library of the process, loaded on first use from the executable's own folder or the
    // system folder, never from the current directory or the search path. nullptr when the
    // library or one of its calls cannot be had, with the reason in *why when given; a later
    // call tries again.
    static BridgeLibrary* Get(BridgeLoadError* why = nullptr);

    // The bitness of the program or library file at path, from its PE header: 32 or 64, or 0 when
    // the file cannot be read as one.
    static int ImageBits(const char* path);

    using CountFn = int(WINAPI*)(DWORD* count);
    using OpenFn = int(WINAPI*)(DWORD index, HANDLE* device);
    using CloseFn = int(WINAPI*)(HANDLE device);
    using TextFn = int(WINAPI*)(HANDLE device, void* buffer, BYTE* length, BOOL ascii);
    using WordFn = int(WINAPI*)(HANDLE device, WORD* value);

    CountFn Count = nullptr;      // ordinal 1
    OpenFn Open = nullptr;        // ordinal 3
    CloseFn Close = nullptr;      // ordinal 4
    TextFn ProductText = nullptr; // ordinal 12
    TextFn SerialText = nullptr;  // ordinal 13
    WordFn Vid = nullptr;         // ordinal 14
    WordFn Pid = nullptr;         // ordinal 15

  private:
    bool Bind(HMODULE module);
};
