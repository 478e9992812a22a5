#include "support/PortDevices.h"

#include <setupapi.h>

// In setupapi.dll and its import library, but not declared by the headers here.
extern "C" BOOL WINAPI SetupDiSetDevicePropertyW(HDEVINFO devices, PSP_DEVINFO_DATA device,
                                                 const DEVPROPKEY* key, DEVPROPTYPE type,
                                                 const BYTE* buffer, DWORD size, DWORD flags);

namespace {
constexpr char kPortsClassGuid[] = "{4d36e978-e325-11ce-bfc1-08002be10318}";
constexpr DEVPROPKEY kBusReportedDescription = {
    {0x540b947e, 0x8b40, 0x45bc, {0xa8, 0xa2, 0x6a, 0x0b, 0x89, 0x4c, 0xbd, 0xa2}}, 4};

// The bus-reported description is a device property, stored where the system keeps those.
bool SetBusDescription(const std::string& instanceId, const std::string& text) {
    HDEVINFO devices = ::SetupDiCreateDeviceInfoList(nullptr, nullptr);
    if (devices == INVALID_HANDLE_VALUE)
        return false;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    std::wstring wide(text.size() + 1, L'\0');
    wide.resize(static_cast<size_t>(::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(),
                                                          static_cast<int>(wide.size()))));
    const bool set =
        ::SetupDiOpenDeviceInfoA(devices, instanceId.c_str(), nullptr, 0, &device) &&
        ::SetupDiSetDevicePropertyW(devices, &device, &kBusReportedDescription, DEVPROP_TYPE_STRING,
                                    reinterpret_cast<const BYTE*>(wide.data()),
                                    static_cast<DWORD>(wide.size() * sizeof(WCHAR)), 0);
    ::SetupDiDestroyDeviceInfoList(devices);
    return set;
}
} // namespace

bool PortDevices::Add(const PortDevice& device) {
    const std::string instanceId = "USB\\" + device.ids + "\\" + device.instance;
    const std::string key = "SYSTEM\\CurrentControlSet\\Enum\\" + instanceId;
    const std::string hardwareIds =
        "USB\\" + device.ids + "&REV_0100" + '\0' + "USB\\" + device.ids + '\0' + '\0';
    bool written = m_keys.SetText(key, "ClassGUID", kPortsClassGuid) &&
                   m_keys.SetText(key, "Class", "Ports") &&
                   m_keys.SetBytes(key, "HardwareID", hardwareIds, REG_MULTI_SZ) &&
                   m_keys.SetText(key, "DeviceDesc", device.description) &&
                   m_keys.SetText(key, "Service", device.service) &&
                   m_keys.Create(key + "\\Device Parameters");
    if (written && !device.portName.empty())
        written = m_keys.SetText(key + "\\Device Parameters", "PortName", device.portName);
    if (written && !device.busDescription.empty())
        written = SetBusDescription(instanceId, device.busDescription);
    return written;
}
