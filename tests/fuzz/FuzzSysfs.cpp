// sysfs as the kernel lays it out, with the input's names, levels and attribute texts: each tty
// links to a device folder some levels below a USB device that has idVendor, idProduct, product
// and serial. Only the bridge maker's adapters within reach are listed, in tty order, with their
// texts cut to their limits and to one line; then the texts go where the program writes them.

#include "FuzzCheck.h"
#include "WrittenTexts.h"
#include "discovery/SysfsBridges.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

namespace fs = std::filesystem;

namespace {

const fs::path& Root() {
    static const fs::path root =
        fs::temp_directory_path() / ("orvane-fuzz-sysfs-" + std::to_string(::getpid()));
    return root;
}

void WriteText(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
}

// What the program must make of idVendor: four hex digits at most, on the first line.
bool IsMakersVendor(const std::string& text) {
    const std::string line = text.substr(0, text.find('\n'));
    if (line.empty() || line.size() > 4 ||
        line.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return false;
    return std::stoul(line, nullptr, 16) == 0x10C4;
}

bool IsHexWord(const std::string& text) {
    const std::string line = text.substr(0, text.find('\n'));
    return !line.empty() && line.size() <= 4 &&
           line.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

std::string FirstLine(const std::string& text, size_t limit) {
    return text.substr(0, std::min(text.find('\n'), limit));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const fs::path& root = Root();
    fs::remove_all(root);
    fs::create_directories(root / "class" / "tty");
    fs::create_directories(root / "devices");

    struct Expected {
        std::string name, product, serial;
    };
    std::vector<Expected> expected;
    std::set<std::string> names;
    const int count = input.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < count && input.remaining_bytes() > 0; ++i) {
        std::string name = input.ConsumeRandomLengthString(12);
        std::erase_if(name, [](char c) { return c == '/' || c == '\0'; });
        if (name.empty() || name == "." || name == ".." || names.count(name))
            continue;
        names.insert(name);
        // The USB device, then levels folders down to the tty's device folder.
        const fs::path usb = root / "devices" / ("usb" + std::to_string(i));
        const int levels = input.ConsumeIntegralInRange(0, 7);
        fs::path device = usb;
        for (int level = 0; level < levels; ++level)
            device /= "level" + std::to_string(level);
        fs::create_directories(device);
        const std::string vendor = input.ConsumeRandomLengthString(8);
        const std::string productId = input.ConsumeRandomLengthString(8);
        const std::string product = input.ConsumeRandomLengthString(200);
        const std::string serial = input.ConsumeRandomLengthString(100);
        const bool hasProductId = input.ConsumeIntegralInRange(0, 7) != 0;
        WriteText(usb / "idVendor", vendor);
        if (hasProductId)
            WriteText(usb / "idProduct", productId);
        WriteText(usb / "product", product);
        WriteText(usb / "serial", serial);
        fs::create_directories(root / "class" / "tty" / name);
        fs::create_directory_symlink(device, root / "class" / "tty" / name / "device");
        if (levels <= 5 && hasProductId && IsMakersVendor(vendor) && IsHexWord(productId))
            expected.push_back({name, FirstLine(product, 127), FirstLine(serial, 63)});
    }

    const std::vector<BridgeIdentity> bridges = ListSysfsBridges(root.string());
    Require(bridges.size() == expected.size(),
            "every maker's adapter within reach is listed, and nothing else");
    std::vector<std::string> texts;
    for (size_t i = 0; i < bridges.size(); ++i) {
        Require(bridges[i].vid == kBridgeVendorId, "only the bridge maker's adapters");
        const std::string name = bridges[i].device.substr(5);
        const auto match = std::find_if(expected.begin(), expected.end(),
                                        [&](const Expected& e) { return e.name == name; });
        Require(bridges[i].device.rfind("/dev/", 0) == 0 && match != expected.end(),
                "each adapter is listed once, with its tty's device path", bridges[i].device);
        Require(i == 0 || !TtyNameBefore(name, bridges[i - 1].device.substr(5)),
                "the adapters are in tty order");
        Require(bridges[i].product == match->product && bridges[i].serial == match->serial,
                "the texts are the attributes' first lines, cut to 127 and 63 characters");
        expected.erase(match);
        texts.push_back(bridges[i].product);
        texts.push_back(bridges[i].serial);
    }
    if (!texts.empty())
        CheckWrittenTexts(texts);
    return 0;
}
