#include "discovery/SystemBridges.h"

#include "discovery/BridgeLibrary.h"

#include <cfgmgr32.h>
#include <setupapi.h>

#include <cctype>
#include <cstring>

namespace {

// {4d36e978-e325-11ce-bfc1-08002be10318}: the Ports (COM and LPT) device class.
constexpr GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
// DEVPKEY_Device_BusReportedDeviceDesc: the product text the device itself reports.
constexpr DEVPROPKEY kBusReportedDescription = {
    {0x540b947e, 0x8b40, 0x45bc, {0xa8, 0xa2, 0x6a, 0x0b, 0x89, 0x4c, 0xbd, 0xa2}}, 4};

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    const size_t length = std::strlen(prefix);
    return text.size() >= length && _strnicmp(text.c_str(), prefix, length) == 0;
}

// Four hex digits after the tag (e.g. "VID_") wherever it stands in the ID.
bool HexWordAfter(const std::string& id, const char* tag, WORD& value) {
    std::string upper = id;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const size_t at = upper.find(tag);
    if (at == std::string::npos || upper.size() < at + std::strlen(tag) + 4)
        return false;
    unsigned result = 0;
    for (size_t i = at + std::strlen(tag), end = i + 4; i < end; ++i) {
        if (!std::isxdigit(static_cast<unsigned char>(upper[i])))
            return false;
        result = result * 16 + (std::isdigit(static_cast<unsigned char>(upper[i]))
                                    ? upper[i] - '0'
                                    : upper[i] - 'A' + 10);
    }
    value = static_cast<WORD>(result);
    return true;
}

// A text property of the device; "" when it has none. Multi-string properties give their first.
std::string RegistryProperty(HDEVINFO devices, SP_DEVINFO_DATA& device, DWORD property) {
    char buffer[512] = {};
    if (!::SetupDiGetDeviceRegistryPropertyA(devices, &device, property, nullptr,
                                             reinterpret_cast<BYTE*>(buffer), sizeof(buffer) - 2,
                                             nullptr))
        return "";
    return buffer;
}

// The bus-reported description, which carries the product text the bridge itself holds.
std::string BusReportedDescription(HDEVINFO devices, SP_DEVINFO_DATA& device) {
    WCHAR text[256] = {};
    DEVPROPTYPE type = 0;
    if (!::SetupDiGetDevicePropertyW(devices, &device, &kBusReportedDescription, &type,
                                     reinterpret_cast<BYTE*>(text), sizeof(text) - sizeof(WCHAR),
                                     nullptr, 0) ||
        type != DEVPROP_TYPE_STRING)
        return "";
    char narrow[512] = {};
    ::WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof(narrow) - 1, nullptr, nullptr);
    return narrow;
}

int PortOfDevice(HDEVINFO devices, SP_DEVINFO_DATA& device) {
    HKEY key = ::SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE)
        return -1;
    char name[32] = {};
    DWORD size = sizeof(name) - 1;
    DWORD type = 0;
    const LONG status =
        ::RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
    ::RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ)
        return -1;
    return PortNumberFromComName(std::string(name, strnlen(name, size)));
}

} // namespace

bool UsbIdsFromDeviceId(const std::string& id, WORD& vid, WORD& pid) {
    return HexWordAfter(id, "VID_", vid) && HexWordAfter(id, "PID_", pid);
}

std::string SerialFromInstanceId(const std::string& instanceId) {
    const size_t first = instanceId.find('\\');
    const size_t last = instanceId.find_last_of('\\');
    if (first == std::string::npos || last == first || last + 1 >= instanceId.size())
        return "";
    const std::string serial = instanceId.substr(last + 1);
    // Windows makes up an ID with '&' in it for a device that reports no serial.
    return serial.find('&') == std::string::npos ? serial : "";
}

std::string ComPortName(int port) {
    return "COM" + std::to_string(port);
}

int PortNumberFromComName(const std::string& name) {
    if (!StartsWithNoCase(name, "COM") || name.size() < 4 || name.size() > 7)
        return -1;
    int number = 0;
    for (size_t i = 3; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i])))
            return -1;
        number = number * 10 + (name[i] - '0');
    }
    return number >= 1 ? number : -1;
}

std::vector<BridgeIdentity> ListSystemBridges() {
    std::vector<BridgeIdentity> bridges;
    HDEVINFO devices = ::SetupDiGetClassDevsA(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE)
        return bridges;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    for (DWORD index = 0; ::SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        char instance[MAX_DEVICE_ID_LEN + 1] = {};
        if (!::SetupDiGetDeviceInstanceIdA(devices, &device, instance, sizeof(instance) - 1,
                                           nullptr) ||
            !StartsWithNoCase(instance, "USB\\"))
            continue;
        BridgeIdentity bridge;
        if (!UsbIdsFromDeviceId(instance, bridge.vid, bridge.pid))
            continue;
        const std::string service = RegistryProperty(devices, device, SPDRP_SERVICE);
        if (_stricmp(service.c_str(), kBridgeService) != 0 && bridge.vid != kBridgeVendorId)
            continue;
        bridge.serial = SerialFromInstanceId(instance);
        bridge.port = PortOfDevice(devices, device);
        if (bridge.serial.empty() || bridge.port < 0)
            continue;
        bridge.product = BusReportedDescription(devices, device);
        bridge.ownProduct = !bridge.product.empty();
        if (bridge.product.empty())
            bridge.product = RegistryProperty(devices, device, SPDRP_DEVICEDESC);
        // The same bounds as the library's texts.
        bridge.product.resize(
            std::min<size_t>(bridge.product.size(), BridgeLibrary::kProductTextSize - 1));
        bridge.serial.resize(
            std::min<size_t>(bridge.serial.size(), BridgeLibrary::kSerialTextSize - 1));
        bridges.push_back(bridge);
    }
    ::SetupDiDestroyDeviceInfoList(devices);
    return bridges;
}
