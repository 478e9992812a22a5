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
