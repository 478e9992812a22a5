#include "firmware/NewestFile.h"

#include <map>

NewestFile NewestFor(const std::vector<CatalogFile>& files, int model) {
    NewestFile newest;
    std::map<int, const CatalogFile*> byVersion;
    for (const CatalogFile& file : files) {
        if (file.deviceId != model)
            continue;
        const CatalogFile*& same = byVersion[file.version];
        if (same && same->sha256 != file.sha256) {
            newest.same = same;
            newest.other = &file;
            return newest;
        }
        if (!same)
            same = &file;
    }
    if (!byVersion.empty())
        newest.file = byVersion.rbegin()->second;
    return newest;
}
