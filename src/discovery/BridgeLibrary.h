#pragma once
// The USB-to-UART bridge maker's manufacturing library, loaded at run time and called by
// ordinal. Every call returns 0 on success.

#include <windows.h>

class BridgeLibrary {
  public:
    static constexpr const char* kFileName = "CP210xManufacturing.dll";
    static constexpr DWORD kProductTextSize = 128;
    static constexpr DWORD kSerialTextSize = 64;

    // The library of the process, loaded on first use from the executable's own folder or the
    // system folder, never from the current directory or the search path. nullptr when the
    // library or one of its calls cannot be had; a later call tries again.
    static BridgeLibrary* Get();

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
