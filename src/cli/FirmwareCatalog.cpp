#include "cli/FirmwareCatalog.h"

#include "cli/Commands.h"
#include "cli/UnitText.h"
#include "text/Messages.h"

#include <algorithm>
#include <cctype>

namespace {

// "*.ace", in any case.
bool IsFirmwareName(const std::string& name) {
    constexpr char kExtension[] = ".ace";
    constexpr size_t kLength = sizeof(kExtension) - 1;
    return name.size() > kLength &&
           std::equal(name.end() - kLength, name.end(), kExtension, [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == b;
           });
}

// How the file fared against the published checksums, for its "File" line.
std::string ChecksumNote(ChecksumVerdict checksum) {
    switch (checksum) {
    case ChecksumVerdict::Matches:
        return std::string(", SHA-256 matches ") + kChecksumListName;
    case ChecksumVerdict::Differs:
        return std::string(", SHA-256 does not match ") + kChecksumListName;
    case ChecksumVerdict::NotListed:
        return std::string(", not listed in ") + kChecksumListName;
    default:
        return "";
    }
}

// Why a file of the folder may not be sent for its published checksum: "" when it may.
std::string Untrusted(const std::string& name, ChecksumVerdict checksum) {
    if (checksum != ChecksumVerdict::Differs && checksum != ChecksumVerdict::NotListed)
        return "";
    return name + ": " + MessageFor(checksum);
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
    // The checksum first: a file cut short of its header may be a listed file, damaged.
    if (read)
        read = file->Sha256(entry.sha256);
    if (read && m_published)
        entry.checksum = CheckListed(*m_published, path.substr(FileNameStart(path)), entry.sha256);
    if (read)
        read = file->ReadHeader(header);
    std::string problem;
    if (!read) {
        const bool refused =
            read.failed == FirmwareError::TooLarge || read.failed == FirmwareError::TooShort;
        exitCode = refused ? kExitRefused : kExitUsage;
        problem = std::string(MessageFor(read.failed)) + ": " + path +
                  (refused ? "" : ": " + SystemErrorText(read.systemError));
    } else if (entry.fields = ReadHeaderFields(header);
               !entry.fields.deviceId || !entry.fields.version) {
        exitCode = kExitRefused;
        problem = std::string(MessageFor(Verdict::BadField)) + ": " + path;
    }
    if (!problem.empty()) {
        if (entry.checksum == ChecksumVerdict::Differs)
            m_unknownModelRefusals.push_back(Untrusted(name, ChecksumVerdict::Differs) +
                                             " (its header names no model)");
        return problem + ChecksumNote(entry.checksum);
    }
    entry.deviceId = *entry.fields.deviceId;
    entry.version = *entry.fields.version;
    m_files.push_back(entry);
    m_held.push_back(std::move(file));
    return "";
}

int FirmwareCatalog::Load(const std::string& path, Console& console) {
    m_fromFolder = IsFolder(path.c_str());
    std::string listPath;
    if (const FirmwareResult read =
            ReadChecksumListBeside(path, m_fromFolder, m_published, listPath);
        !read) {
        console.Error(std::string(kChecksumListUnreadable) + " \"" + listPath +
                      "\": " + SystemErrorText(read.systemError));
        return kExitUsage;
    }
    if (m_published && m_published->malformed)
        console.Error(listPath + ": " + std::to_string(m_published->malformed) +
                      " improperly formatted line(s) left out");
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
        if (m_published) {
            for (const std::string& absent : ListedNotAmong(*m_published, names)) {
                if (!IsFirmwareName(absent))
                    continue;
                console.Error(PathInFolder(path, absent) + ": " + kListedFileAbsent);
                m_unknownModelRefusals.push_back(absent + ": " + kListedFileAbsent +
                                                 " (its model is not known)");
            }
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
                      " bytes" + ChecksumNote(file.checksum));
    return kExitDone;
}

FirmwareChoice FirmwareCatalog::ChooseFor(const Unit& unit, bool allowDowngrade) const {
    FirmwareChoice choice;
    // Whatever the folder holds, a unit that could not be asked is judged on that alone.
    const bool checked = WhyNotChecked(unit).empty();
    // A damaged file is never sent, whatever its header says.
    if (!m_fromFolder && checked && m_files.front().checksum == ChecksumVerdict::Differs) {
        choice.refusal = MessageFor(ChecksumVerdict::Differs);
        choice.untrusted = true;
        return choice;
    }
    if (!m_fromFolder || !checked) {
        choice.file = m_fromFolder ? nullptr : &m_files.front();
        choice.refusal = Judge(m_files.front().fields, unit, allowDowngrade, &choice.overridden);
        return choice;
    }
    const int model = InstalledOf(unit).deviceId;
    // A damaged or unpublished file of the model is never passed over for an older one; a
    // listed file whose header cannot be read, or that is missing, may be any model's.
    if (!m_unknownModelRefusals.empty()) {
        choice.refusal = m_unknownModelRefusals.front();
        choice.untrusted = true;
        return choice;
    }
    for (const CatalogFile& file : m_files) {
        if (file.deviceId != model)
            continue;
        if (std::string untrusted = Untrusted(file.name, file.checksum); !untrusted.empty()) {
            choice.refusal = std::move(untrusted);
            choice.untrusted = true;
            return choice;
        }
    }
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
