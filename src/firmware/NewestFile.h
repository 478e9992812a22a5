#pragma once
// Which file of a set is meant for a model: the newest of the files whose header names it. Two
// different files (by SHA-256) of one model and version make the model ambiguous, whatever the
// version: then nothing is chosen for it. The console program's folder and the web page's
// catalog are such sets; how each one is listed and read is the face's own.

#include "firmware/Compatibility.h"
#include "firmware/PublishedChecksums.h"

#include <cstdint>
#include <string>
#include <vector>

struct CatalogFile {
    std::string path; // to open: the file as given, a folder joined with its name, a page's URL
    std::string name; // to name it: its name within the folder or the catalog
    int deviceId = 0; // the header's two fields, both numbers
    int version = 0;
    HeaderFields fields;
    std::uint32_t size = 0;
    std::string sha256;                                 // lowercase hex
    ChecksumVerdict checksum = ChecksumVerdict::NoList; // against a SHA256SUMS beside it
};

struct NewestFile {
    const CatalogFile* file = nullptr; // the newest for the model; nullptr for none or ambiguous
    // When the model is ambiguous: the first two different files found of one version.
    const CatalogFile* same = nullptr;
    const CatalogFile* other = nullptr;

    bool Ambiguous() const { return other != nullptr; }
};

// Of identical files of one version (the same SHA-256) the first is taken.
NewestFile NewestFor(const std::vector<CatalogFile>& files, int model);
