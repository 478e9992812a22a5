#include "cli/FirmwareCatalog.h"

#include "cli/Commands.h"
#include "cli/UnitText.h"
#include "common/Sha256Digest.h"
#include "text/Messages.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr std::uint32_t kHashPiece = 64 * 1024;

// "*.ace", in any case.
bool IsFirmwareName(const std::string& name) {
    constexpr char kExtension[] = ".ace";
    constexpr size_t kLength = sizeof(kExtension) - 1;
    return name.size() > kLength &&
           std::equal(name.end() - kLength, name.end(), kExtension, [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == b;
           });
}

// The whole file's SHA-256 from its start; the handle is left at its end.
FirmwareResult HashFile(FirmwareFile& file, std::string& hex) {
    Sha256Digest digest;
    std::vector<char> piece(kHashPiece);
    for (;;) {
        std::uint32_t read = 0;
        if (const FirmwareResult result = file.Read(piece.data(), kHashPiece, read); !result)
            return result;
        if (read == 0)
            break;
        digest.Add(piece.data(), read);
    }
    hex = digest.Finish();
    return FirmwareResult::Success();
}

} // namespace

std::string FirmwareCatalog::Add(const std::string& path, const std::string& name, int& exitCode) {
    auto file = std::make_unique<FirmwareFile>();
    exitCode = kExitUsage;
    if (const FirmwareResult opened = file->Open(path.c_str(), FileSharing::Readers); !opened)
        return std::string(MessageFor(FirmwareError::Open)) + " \"" + path +
               "\": " + SystemErrorText(opened.systemError);
    CatalogFile entry;
    entry.path = path;
    entry.name = name;
    FirmwareHeader header;
    FirmwareResult read = file->Size(entry.size);
    if (read)
        read = file->ReadHeader(header);
    if (read)
        read = HashFile(*file, entry.sha256);
    if (!read) {
        const bool refused =
            read.failed == FirmwareError::TooLarge || read.failed == FirmwareError::TooShort;
        exitCode = refused ? kExitRefused : kExitUsage;
        return std::string(MessageFor(read.failed)) + ": " + path +
               (refused ? "" : ": " + SystemErrorText(read.systemError));
    }
    entry.fields = ReadHeaderFields(header);
    if (!entry.fields.deviceId || !entry.fields.version) {
        exitCode = kExitRefused;
        return std::string(MessageFor(Verdict::BadField)) + ": " + path;
    }
    entry.deviceId = *entry.fields.deviceId;
    entry.version = *entry.fields.version;
    m_files.push_back(entry);
    m_held.push_back(std::move(file));
    return "";
}

int FirmwareCatalog::Load(const std::string& path, Console& console) {
    m_fromFolder = IsFolder(path.c_str());
    int exitCode = kExitDone;
    if (!m_fromFolder) {
        if (const std::string problem = Add(path, path, exitCode); !problem.empty()) {
            console.Error(problem);
            return exitCode;
        }
    } else {
        std::vector<std::string> names;
        if (SystemError error = 0; !FilesInFolder(path.c_str(), names, error)) {
            console.Error(std::string(MessageFor(FirmwareError::Open)) + " \"" + path +
                          "\": " + SystemErrorText(error));
            return kExitUsage;
        }
        std::erase_if(names, [](const std::string& name) { return !IsFirmwareName(name); });
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            if (const std::string problem = Add(PathInFolder(path, name), name, exitCode);
                !problem.empty())
                console.Error(problem + " (left out)");
        }
        if (m_files.empty()) {
            console.Error("no firmware file (.ace) in \"" + path + "\" can be used");
            return kExitUsage;
        }
    }
    for (const CatalogFile& file : m_files)
        console.Print("File " + file.path + ": model " + std::to_string(file.deviceId) +
                      ", version " + ThreeDigits(file.version) + ", " + std::to_string(file.size) +
                      " bytes");
    return kExitDone;
}

FirmwareChoice FirmwareCatalog::ChooseFor(const Unit& unit, bool allowDowngrade) const {
    FirmwareChoice choice;
    // Whatever the folder holds, a unit that could not be asked is judged on that alone.
    if (!m_fromFolder || !WhyNotChecked(unit).empty()) {
        choice.file = m_fromFolder ? nullptr : &m_files.front();
        choice.refusal = Judge(m_files.front().fields, unit, allowDowngrade, &choice.overridden);
        return choice;
    }
    const int model = InstalledOf(unit).deviceId;
    const NewestFile newest = NewestFor(m_files, model);
    if (newest.Ambiguous()) {
        choice.refusal =
            AmbiguousModelText(model, newest.same->name, newest.other->name, newest.other->version);
        choice.ambiguous = true;
        return choice;
    }
    if (!newest.file) {
        choice.refusal = std::string(MessageFor(Verdict::OtherModel)) +
                         " (no file in the folder is for model " + std::to_string(model) + ")";
        return choice;
    }
    choice.file = newest.file;
    choice.refusal = Judge(choice.file->fields, unit, allowDowngrade, &choice.overridden);
    return choice;
}

std::string FirmwareCatalog::Naming(const FirmwareChoice& choice) const {
    if (!m_fromFolder || !choice.file)
        return "";
    return choice.file->name + " (version " + ThreeDigits(choice.file->version) + "): ";
}
