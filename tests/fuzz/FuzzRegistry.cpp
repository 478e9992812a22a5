// What the registry and the device list give the Windows finder as text, built natively: a
// port's value read into its buffer of exactly kValueBufferSize bytes with any size the registry
// reports (nothing is written outside it), a "COM<n>" name, a USB device's hardware and
// instance IDs, and a bridge library's text in its buffer with any length it says.

#include "FuzzCheck.h"
#include "discovery/RegistryTexts.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::uint32_t reported = input.ConsumeIntegralInRange<std::uint32_t>(0, 1000);
    const std::string text = input.ConsumeRandomLengthString(kValueBufferSize);
    const std::size_t bridgeTextSize = input.ConsumeBool() ? 128 : 64; // product, serial
    const std::size_t bridgeTextLength = input.ConsumeIntegral<std::uint8_t>();
    const std::string id = input.ConsumeRemainingBytesAsString();

    // The value as the registry left it: its bytes, the rest of the buffer as it was.
    const auto value = std::make_unique<char[]>(kValueBufferSize);
    std::memset(value.get(), 'X', kValueBufferSize);
    std::memcpy(value.get(), text.data(), std::min<size_t>(text.size(), kValueBufferSize));
    const std::string seen(value.get(), std::min(reported, kValueBufferSize - 1));
    const std::string terminated = seen.substr(0, seen.find('\0'));
    const int port = PortNumberFromName(value.get(), reported);
    if (terminated.size() < 3) {
        Require(port == -1, "a name shorter than three characters gives no port");
    } else {
        Require(port >= -1, "a port is a number or none");
        const std::string digits = terminated.substr(3);
        const size_t end = digits.find_first_not_of("0123456789");
        const std::string leading = digits.substr(0, end);
        if (port >= 0 && leading.size() < 10)
            Require(port == (leading.empty() ? 0 : std::stoi(leading)),
                    "the port is the digits after the first three characters", terminated);
    }

    // A bridge text as the library left it, in a buffer of exactly its size, any length said.
    const auto bridgeText = std::make_unique<char[]>(bridgeTextSize);
    std::memset(bridgeText.get(), 'X', bridgeTextSize);
    std::memcpy(bridgeText.get(), text.data(), std::min(text.size(), bridgeTextSize));
    const std::string written(bridgeText.get(), std::min(bridgeTextLength, bridgeTextSize - 1));
    Require(BridgeTextIn(bridgeText.get(), bridgeTextSize, bridgeTextLength) ==
                written.substr(0, written.find('\0')),
            "a bridge text is what the library wrote, up to the length it said and a NUL");

    const int com = PortNumberFromComName(text);
    Require(com == -1 || (com >= 1 && com <= 9999), "a COM port's number is 1 to 9999");
    if (com > 0)
        Require(PortNumberFromComName(ComPortName(com)) == com, "a port's name reads back");

    std::uint16_t vid = 0, pid = 0;
    if (UsbIdsFromDeviceId(id, vid, pid)) {
        std::string upper = id;
        for (char& c : upper)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        Require(upper.find("VID_") != std::string::npos && upper.find("PID_") != std::string::npos,
                "IDs come from VID_ and PID_");
    }
    const std::string serial = SerialFromInstanceId(id);
    Require(serial.find('\\') == std::string::npos && serial.find('&') == std::string::npos,
            "a serial is the instance ID's last part, never one Windows made up");
    Require(serial.empty() || id.ends_with("\\" + serial), "the serial ends the instance ID");
    return 0;
}
