// Maps a bridge's VID, PID and serial number to its COM port through the registry keys that
// the USB and bridge drivers write.
#include "discovery/PortLookup.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {
constexpr DWORD kQuerySize = kValueBufferSize - 1;

// A size no larger than what a query may be given.
DWORD Capped(DWORD size) {
    return size < kQuerySize ? size : kQuerySize;
}
} // namespace

int LookUpPortName(WORD vid, WORD pid, const char* serialText) {
    std::string serial = serialText;
    int result = -1;
    std::vector<char> value(kValueBufferSize);
    HKEY controlSet = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\", 0, KEY_READ,
                        &controlSet) == ERROR_SUCCESS) {
        HKEY usb = nullptr;
        if (::RegOpenKeyA(controlSet, "Enum\\USB\\", &usb) == ERROR_SUCCESS) {
            for (char& c : serial)
                if (c == ' ')
                    c = '_';
            static const char* const kForms[] = {
                "Vid_%04x&Pid_%04x&Mi_00\\%s_00\\Device Parameters\\",
                "Vid_%04x&Pid_%04x\\%s\\Device Parameters\\",
            };
            // The second form is tried only when the first does not exist.
            for (const char* form : kForms) {
                char path[256];
                std::snprintf(path, sizeof(path), form, vid, pid, serial.c_str());
                HKEY parameters = nullptr;
                if (::RegOpenKeyExA(usb, path, 0, KEY_READ, &parameters) != ERROR_SUCCESS)
                    continue;
                DWORD type = 0;
                DWORD size = kQuerySize;
                if (::RegQueryValueExA(parameters, "PortName", nullptr, &type,
                                       reinterpret_cast<BYTE*>(value.data()),
                                       &size) == ERROR_SUCCESS)
                    result = PortNumberFromName(value.data(), size);
                ::RegCloseKey(parameters);
                break;
            }
            ::RegCloseKey(usb);
        }
        ::RegCloseKey(controlSet);
    }
    // Kept on purpose: the lookup has always closed the predefined key, which Windows ignores.
    ::RegCloseKey(HKEY_LOCAL_MACHINE);
    return result;
}

int LookUpPortNameLegacy(WORD vid, WORD pid, const char* serialText) {
    std::string serial = serialText;
    int result = -1;
    std::vector<char> value(kValueBufferSize);
    // One counter for the whole scan: each query leaves in it the size the registry reported.
    DWORD size = kQuerySize;
    for (char& c : serial) {
        if (c == ' ')
            c = '_';
        else if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    char expected[256];
    std::snprintf(expected, sizeof(expected), "USB\\VID_%04X&PID_%04X&MI_00\\%s_00", vid, pid,
                  serial.c_str());

    int index = 0;
    bool revisiting = false;
    char name[32];
    std::snprintf(name, sizeof(name), "Enum\\SLABCR\\guid\\%.4d", index);
    HKEY key = nullptr;
    if (::RegOpenKeyA(HKEY_LOCAL_MACHINE, name, &key) == ERROR_SUCCESS) {
        for (;;) {
            DWORD type = 0;
            // Never more than the buffer holds, whatever the counter says.
            DWORD asked = Capped(size);
            const LONG status = ::RegQueryValueExA(key, "CRLowerDeviceID", nullptr, &type,
                                                   reinterpret_cast<BYTE*>(value.data()), &asked);
            size = asked;
            // A value that did not fit is read on a second visit of its key with its own size,
            // once, and only when it fits the buffer; otherwise the key is passed over.
            const bool again = status == ERROR_MORE_DATA && !revisiting && size <= kQuerySize;
            if (status == ERROR_SUCCESS) {
                value[Capped(size)] = '\0';
                if (std::strcmp(value.data(), expected) == 0) {
                    asked = Capped(size);
                    if (::RegQueryValueExA(key, "Portname", nullptr, &type,
                                           reinterpret_cast<BYTE*>(value.data()),
                                           &asked) == ERROR_SUCCESS)
                        result = PortNumberFromName(value.data(), asked);
                    size = asked;
                }
            }
            revisiting = again;
            if (!again)
                ++index;
            ::RegCloseKey(key);
            std::snprintf(name, sizeof(name), "Enum\\SLABCR\\guid\\%.4d", index);
            if (::RegOpenKeyA(HKEY_LOCAL_MACHINE, name, &key) != ERROR_SUCCESS)
                break;
        }
    }
    // Kept on purpose: the lookup has always closed the predefined key, which Windows ignores.
    ::RegCloseKey(HKEY_LOCAL_MACHINE);
    return result;
}
