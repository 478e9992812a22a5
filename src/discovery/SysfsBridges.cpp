#include "discovery/SysfsBridges.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// How far above a tty's device the USB device may be: its usb-serial port, then the interface,
// then the device (a CDC-ACM tty is one level closer).
constexpr int kUsbDeviceLevels = 5;
constexpr size_t kProductLimit = 127;
constexpr size_t kSerialLimit = 63;

// The first line of a sysfs attribute, at most limit characters; "" when it cannot be read.
std::string Attribute(const fs::path& folder, const char* name, size_t limit = 255) {
    std::ifstream file(folder / name);
    std::string line;
    std::getline(file, line);
    if (line.size() > limit)
        line.resize(limit);
    return line;
}

bool ParseHexWord(const std::string& text, std::uint16_t& value) {
    if (text.empty() || text.size() > 4)
        return false;
    unsigned result = 0;
    for (const char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        result = result * 16 + (std::isdigit(static_cast<unsigned char>(c))
                                    ? c - '0'
                                    : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
    }
    value = static_cast<std::uint16_t>(result);
    return true;
}

// The USB device above a tty's device folder: the first of it and its parents that has
// idVendor and idProduct.
bool FindUsbDevice(fs::path folder, fs::path& usbDevice) {
    for (int level = 0; level <= kUsbDeviceLevels && folder.has_relative_path(); ++level) {
        std::error_code error;
        if (fs::exists(folder / "idVendor", error) && fs::exists(folder / "idProduct", error)) {
            usbDevice = folder;
            return true;
        }
        folder = folder.parent_path();
    }
    return false;
}

} // namespace

bool TtyNameBefore(const std::string& a, const std::string& b) {
    const auto split = [](const std::string& name) {
        size_t digits = name.size();
        while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1])))
            --digits;
        const std::string number = name.substr(digits);
        return std::make_pair(name.substr(0, digits),
                              number.empty() || number.size() > 9 ? -1 : std::stoi(number));
    };
    return split(a) < split(b);
}

std::vector<BridgeIdentity> ListSysfsBridges(const std::string& sysRoot) {
    std::vector<std::pair<std::string, BridgeIdentity>> found;
    std::error_code error;
    for (const fs::directory_entry& tty :
         fs::directory_iterator(fs::path(sysRoot) / "class" / "tty", error)) {
        const std::string name = tty.path().filename().string();
        // Virtual terminals and ptys have no device behind them.
        const fs::path device = fs::canonical(tty.path() / "device", error);
        if (error) {
            error.clear();
            continue;
        }
        fs::path usbDevice;
        if (!FindUsbDevice(device, usbDevice))
            continue;
        BridgeIdentity bridge;
        if (!ParseHexWord(Attribute(usbDevice, "idVendor"), bridge.vid) ||
            !ParseHexWord(Attribute(usbDevice, "idProduct"), bridge.pid) ||
            bridge.vid != kBridgeVendorId)
            continue;
        bridge.product = Attribute(usbDevice, "product", kProductLimit);
        bridge.ownProduct = fs::exists(usbDevice / "product", error);
        bridge.serial = Attribute(usbDevice, "serial", kSerialLimit);
        bridge.device = "/dev/" + name;
        found.emplace_back(name, bridge);
    }
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return TtyNameBefore(a.first, b.first); });
    std::vector<BridgeIdentity> bridges;
    for (auto& [name, bridge] : found)
        bridges.push_back(std::move(bridge));
    return bridges;
}

std::vector<std::string> ListSysfsBridgeAdapters(const std::string& sysRoot) {
    std::vector<std::pair<std::string, std::string>> found;
    std::error_code error;
    for (const fs::directory_entry& device :
         fs::directory_iterator(fs::path(sysRoot) / "bus" / "usb" / "devices", error)) {
        std::uint16_t vid = 0;
        // Interfaces have no idVendor of their own.
        if (ParseHexWord(Attribute(device.path(), "idVendor"), vid) && vid == kBridgeVendorId)
            found.emplace_back(device.path().filename().string(),
                               Attribute(device.path(), "product", kProductLimit));
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> products;
    for (auto& [name, product] : found)
        products.push_back(std::move(product));
    return products;
}
