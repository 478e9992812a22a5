// A folder given to the console program: its files' names and headers from the input, written
// to a real folder and read by the catalog, then the file chosen for a unit. Only .ace files
// with two number fields are taken; a unit is never given another model's file, always the
// newest of its model's, a model with two different files of one version is refused, and a
// file listed in the SHA256SUMS but missing refuses every unit.

#include "FuzzCheck.h"
#include "cli/FirmwareCatalog.h"
#include "cli/UnitText.h"
#include "common/Sha256Digest.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

namespace fs = std::filesystem;

namespace {

const fs::path& Folder() {
    static const fs::path folder = [] {
        fs::path made =
            fs::temp_directory_path() / ("orvane-fuzz-catalog-" + std::to_string(::getpid()));
        fs::create_directories(made);
        return made;
    }();
    return folder;
}

bool EndsWithAce(const std::string& name) {
    if (name.size() <= 4)
        return false;
    std::string end = name.substr(name.size() - 4);
    for (char& c : end)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return end == ".ace";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const fs::path& folder = Folder();
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        fs::remove_all(entry.path());

    Unit unit;
    unit.device = "/dev/ttyUSB0";
    unit.queried = true;
    unit.portOpened = LineResult::Success();
    unit.answered = input.ConsumeIntegralInRange<int>(0, 7) != 0;
    unit.reply.deviceId = input.ConsumeIntegral<std::uint8_t>();
    unit.reply.version = input.ConsumeIntegral<std::uint8_t>();
    const bool allowDowngrade = input.ConsumeBool();

    std::set<std::string> written;
    bool listedAbsent = false; // a listed .ace name that is no file of the folder
    // The SHA256SUMS, when there is one: each file listed or not, with its digest or another.
    const bool published = input.ConsumeBool();
    std::string sums;
    const int count = input.ConsumeIntegralInRange(0, 6);
    for (int i = 0; i < count && input.remaining_bytes() > 0; ++i) {
        std::string name = input.ConsumeRandomLengthString(24);
        std::erase_if(name, [](char c) { return c == '/' || c == '\0'; });
        if (input.ConsumeBool())
            name += input.ConsumeBool() ? ".ace" : ".ACE";
        if (name.empty() || name == "." || name == ".." || written.count(name))
            continue;
        std::string bytes(input.ConsumeBool() ? kHeaderSize + input.ConsumeIntegral<std::uint8_t>()
                                              : input.ConsumeIntegralInRange<size_t>(0, 600),
                          '\0');
        const std::string fields = input.ConsumeBytesAsString(4);
        for (size_t at = 0; at < fields.size() && kDeviceIdOffset + at < bytes.size(); ++at)
            bytes[kDeviceIdOffset + at] = fields[at];
        if (!bytes.empty())
            bytes.back() = static_cast<char>(input.ConsumeIntegral<std::uint8_t>());
        const bool asFolder = input.ConsumeIntegralInRange(0, 7) == 0;
        if (asFolder) {
            fs::create_directory(folder / name); // a folder named like a firmware file
        } else {
            std::ofstream(folder / name, std::ios::binary) << bytes;
        }
        written.insert(name);
        const int listing = input.ConsumeIntegralInRange(0, 3); // 0: not listed; 1: wrong
        if (published && listing > 0 && name.find_first_of("\\\n\r") == std::string::npos) {
            Sha256Digest digest;
            digest.Add(bytes.data(), bytes.size());
            std::string hex = digest.Finish();
            if (listing == 1)
                hex[5] = hex[5] == 'a' ? 'b' : 'a';
            sums += hex + "  " + name + "\n";
            listedAbsent |= asFolder && EndsWithAce(name);
        }
    }
    if (published && !written.count("absent.ace") && input.ConsumeIntegralInRange(0, 3) == 0) {
        sums += std::string(64, 'a') + "  absent.ace\n";
        listedAbsent = true;
    }
    if (published)
        std::ofstream(folder / "SHA256SUMS", std::ios::binary) << sums;

    FirmwareCatalog catalog;
    Console console;
    int loaded = 0;
    {
        const Silenced quiet;
        loaded = catalog.Load(folder.string(), console);
    }
    Require(catalog.FromFolder(), "a folder is read as a folder");
    Require((loaded == 0) == !catalog.Files().empty(), "a folder without a usable file ends");
    for (const CatalogFile& file : catalog.Files()) {
        Require(EndsWithAce(file.name) && written.count(file.name) == 1,
                "only the folder's .ace files are taken", file.name);
        Require(!fs::is_directory(folder / file.name), "a folder is never a firmware file");
        Require(file.size >= kHeaderSize && file.size == fs::file_size(folder / file.name),
                "a file is taken with its header and its size");
        Require(file.fields.deviceId == file.deviceId && file.fields.version == file.version,
                "a file's fields are both numbers");
        Require(file.sha256.size() == 64, "a file has its SHA-256");
        Require(fs::exists(folder / "SHA256SUMS") == (file.checksum != ChecksumVerdict::NoList),
                "a file is judged against the SHA256SUMS when there is one");
    }
    if (catalog.Files().empty())
        return 0;

    const FirmwareChoice choice = catalog.ChooseFor(unit, allowDowngrade);
    if (!unit.answered) {
        Require(!choice.file && !choice.refusal.empty(), "a unit not heard is refused");
        return 0;
    }
    const int model = static_cast<signed char>(unit.reply.deviceId);
    const int installed = static_cast<signed char>(unit.reply.version);
    std::vector<const CatalogFile*> ofModel;
    for (const CatalogFile& file : catalog.Files())
        if (file.deviceId == model)
            ofModel.push_back(&file);
    const bool anyUntrusted = std::any_of(ofModel.begin(), ofModel.end(), [](auto* file) {
        return file->checksum == ChecksumVerdict::Differs ||
               file->checksum == ChecksumVerdict::NotListed;
    });
    Require(choice.untrusted || !listedAbsent,
            "a listed file missing from the folder may be any model's: no unit is served");
    if (choice.untrusted) {
        Require(!choice.file && !choice.refusal.empty(), "an untrusted file is never sent");
        Require(anyUntrusted || choice.refusal.ends_with("(its header names no model)") ||
                    choice.refusal.ends_with("(its model is not known)"),
                "refused for a checksum only for a file of its model, or of no model known",
                choice.refusal);
        return 0;
    }
    Require(!anyUntrusted,
            "a model with a file that is damaged or not published gets no file at all");
    bool twoOfOneVersion = false;
    for (const CatalogFile* a : ofModel)
        for (const CatalogFile* b : ofModel)
            twoOfOneVersion |= a->version == b->version && a->sha256 != b->sha256;
    Require(choice.ambiguous == twoOfOneVersion,
            "a model is ambiguous when it has two different files of one version");
    if (choice.ambiguous || ofModel.empty()) {
        Require(!choice.file && !choice.refusal.empty(), "no file, and a refusal");
        return 0;
    }
    Require(choice.file && choice.file->deviceId == model, "never another model's file");
    int newest = ofModel.front()->version;
    for (const CatalogFile* file : ofModel)
        newest = std::max(newest, file->version);
    Require(choice.file->version == newest, "the newest file of the model is chosen");
    Require(choice.refusal.empty() == (newest > installed || allowDowngrade),
            "the chosen file is sent when newer, or when a downgrade is allowed");
    return 0;
}
