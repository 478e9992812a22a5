#pragma once
// The firmware a command works with: one file, or the .ace files of a folder (not of its
// subfolders), each read once (header fields, size, SHA-256) and held with readers only until
// the command ends, so that no one changes a file between its check and its transfers. For each
// unit it chooses the file to send: the one file, or the newest file of the folder meant for the
// unit's model (NewestFor, the rule the web page's catalog shares).

#include "cli/Console.h"
#include "discovery/EquipmentFinder.h"
#include "firmware/Compatibility.h"
#include "firmware/FirmwareFile.h"
#include "firmware/PublishedChecksums.h"
#include "firmware/NewestFile.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// What a unit gets: the file chosen (nullptr when the folder has none for it, or when a file
// fails its published checksum) and "" when it may be sent, else why not; overridden when
// --allow-downgrade let an older or the same version by; untrusted when a file was refused for
// its published checksum.
struct FirmwareChoice {
    const CatalogFile* file = nullptr;
    std::string refusal;
    bool overridden = false;
    bool ambiguous = false; // the folder has two different files of the unit's model and version
    bool untrusted = false;
};

class FirmwareCatalog {
  public:
    // Reads the file or the folder and prints a "File" line for each file that can be used. A
    // single file that cannot be used ends the command as it always has (its exit code is
    // returned). In a folder, a file that cannot be used is named once on standard error with
    // why, and left out; a folder without a usable file ends the command with kExitUsage.
    // A SHA256SUMS in the folder, or beside the file, is read first (one that cannot be read
    // ends the command with kExitUsage), and each "File" line says how its file fared.
    int Load(const std::string& path, Console& console);

    bool FromFolder() const { return m_fromFolder; }
    const std::vector<CatalogFile>& Files() const { return m_files; }

    // The file for the unit and the verdict on it, in the window's words. A unit that could not
    // be asked is refused for that reason first. A file that does not match the SHA256SUMS
    // beside it is refused for every unit. From a folder with a SHA256SUMS, a file of the unit's
    // model that is not listed or does not match refuses the unit naming that file, and so does
    // a listed file that does not match and whose header names no model, or that is not in the
    // folder; a model with two different files of one version is ambiguous, and its units are
    // refused naming both files.
    FirmwareChoice ChooseFor(const Unit& unit, bool allowDowngrade) const;

    // The file a unit's line names ("Amplifier-v006.ace (version 006): "); "" for a single file,
    // which its "File" line names already, and when there is no file.
    std::string Naming(const FirmwareChoice& choice) const;

  private:
    // Opens, holds and reads one file; "" when it can be used, else why not.
    std::string Add(const std::string& path, const std::string& name, int& exitCode);

    bool m_fromFolder = false;
    std::optional<ChecksumList> m_published;
    std::vector<CatalogFile> m_files;
    // Why every unit is refused, one text per file: listed files of the folder whose model is
    // unknown, because they do not match and their header cannot be read, or are not there.
    std::vector<std::string> m_unknownModelRefusals;
    std::vector<std::unique_ptr<FirmwareFile>> m_held;
};
