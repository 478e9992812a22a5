// The published checksums: the parser against the shared cases and against sha256sum's own
// output, the names as Linux compares them, and the list read beside a file or in a folder.
#include "common/Sha256Digest.h"
#include "firmware/PublishedChecksums.h"
#include "support/ChecksumCases.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>

namespace {

std::string Sha256Of(const std::string& bytes) {
    Sha256Digest digest;
    digest.Add(bytes.data(), bytes.size());
    return digest.Finish();
}

struct Folder {
    Folder() {
        char name[] = "/tmp/orvane-sums-test.XXXXXX";
        path = ::mkdtemp(name);
    }
    ~Folder() { std::system(("rm -rf '" + path + "'").c_str()); }
    std::string Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(path + "/" + name, std::ios::binary) << bytes;
        return path + "/" + name;
    }
    std::string path;
};

TEST(PublishedChecksums, ParsesTheSharedCases) {
    for (const ChecksumListCase& c : kChecksumListCases) {
        const ChecksumList list = ParseChecksumList(c.text);
        EXPECT_EQ(list.lines, c.lines) << c.name;
        EXPECT_EQ(list.malformed, c.malformed) << c.name;
    }
}

TEST(PublishedChecksums, ReadsWhatSha256sumWrites) {
    // Names that sha256sum escapes (a backslash, a line break, a carriage return) and one it
    // writes as it is, in text and binary mode.
    const Folder folder;
    const std::vector<std::pair<std::string, std::string>> files = {
        {"plain.ace", "a"},
        {"back\\slash.ace", "b"},
        {"two\nlines.ace", "c"},
        {"carriage\rreturn.ace", "d"},
        {" leading blank.ace", std::string(5000, 'e')}};
    std::string names;
    for (const auto& [name, bytes] : files) {
        folder.Write(name, bytes);
        names += " '" + name + "'";
    }
    for (const char* mode : {"--text", "--binary"}) {
        const std::string sums = folder.path + "/SHA256SUMS";
        const std::string command =
            "cd '" + folder.path + "' && sha256sum " + mode + " --" + names + " > SHA256SUMS";
        ASSERT_EQ(std::system(command.c_str()), 0);
        std::optional<ChecksumList> list;
        std::string where;
        ASSERT_TRUE(ReadChecksumListBeside(folder.path, true, list, where));
        EXPECT_EQ(where, sums);
        ASSERT_TRUE(list);
        EXPECT_EQ(list->malformed, 0u) << mode;
        ASSERT_EQ(list->lines.size(), files.size()) << mode;
        for (const auto& [name, bytes] : files)
            EXPECT_EQ(CheckListed(*list, name, Sha256Of(bytes)), ChecksumVerdict::Matches)
                << mode << " " << name;
        EXPECT_EQ(list->lines.front().binary, std::string(mode) == "--binary");
    }
}

TEST(PublishedChecksums, Verdicts) {
    const ChecksumList list = ParseChecksumList(
        kDigestA + "  a.ace\n" + kDigestB + "  b.ace\n" + kDigestB + "  twice.ace\n" + kDigestB +
        "  twice.ace\n" + kDigestA + "  both.ace\n" + kDigestB + "  both.ace\n");
    struct Case {
        const char* name;
        const std::string& sha256;
        ChecksumVerdict verdict;
    };
    const Case cases[] = {
        {"a.ace", kDigestA, ChecksumVerdict::Matches},
        {"a.ace", kDigestB, ChecksumVerdict::Differs},
        {"twice.ace", kDigestB, ChecksumVerdict::Matches},
        // Two lines that disagree: no file can match both.
        {"both.ace", kDigestA, ChecksumVerdict::Differs},
        {"both.ace", kDigestB, ChecksumVerdict::Differs},
        // Linux tells letter case apart, and a name is matched whole.
        {"A.ace", kDigestA, ChecksumVerdict::NotListed},
        {"./a.ace", kDigestA, ChecksumVerdict::NotListed},
        {"c.ace", kDigestA, ChecksumVerdict::NotListed},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CheckListed(list, c.name, c.sha256), c.verdict) << c.name << " " << c.sha256;

    // The listed files a folder lacks: each once, in the list's order; a name with a folder part
    // is not the folder's own, and letter case counts.
    const ChecksumList listing = ParseChecksumList(kDigestA + "  sub/a.ace\n" + kDigestB +
                                                   "  b.ace\n" + kDigestA + "  a.ace\n");
    EXPECT_EQ(ListedNotAmong(list, {"a.ace", "b.ace"}),
              (std::vector<std::string>{"twice.ace", "both.ace"}));
    EXPECT_EQ(ListedNotAmong(listing, {"A.ace"}), (std::vector<std::string>{"b.ace", "a.ace"}));
    EXPECT_TRUE(ListedNotAmong(listing, {"b.ace", "a.ace", "c.ace"}).empty());
}

TEST(PublishedChecksums, TheListBesideAFileOrInAFolder) {
    const Folder folder;
    const std::string firmware = folder.Write("Amp.ace", "a");
    std::optional<ChecksumList> list = ChecksumList{};
    std::string where;
    // None there: no list, no failure.
    ASSERT_TRUE(ReadChecksumListBeside(firmware, false, list, where));
    EXPECT_FALSE(list);
    EXPECT_EQ(where, folder.path + "/SHA256SUMS");

    // Nor in a folder that is not there, or under a file: the firmware file itself fails later.
    for (const std::string& missing : {folder.path + "/none/Amp.ace", firmware + "/Amp.ace"}) {
        ASSERT_TRUE(ReadChecksumListBeside(missing, false, list, where)) << missing;
        EXPECT_FALSE(list) << missing;
    }

    folder.Write("SHA256SUMS", kDigestA + "  Amp.ace\n");
    ASSERT_TRUE(ReadChecksumListBeside(firmware, false, list, where));
    ASSERT_TRUE(list);
    EXPECT_EQ(CheckListed(*list, "Amp.ace", kDigestA), ChecksumVerdict::Matches);

    // A list that cannot be read is a failure, never "no list".
    ::chmod(where.c_str(), 0);
    const bool unreadable = std::ifstream(where).fail(); // root reads it anyway
    const FirmwareResult denied = ReadChecksumListBeside(folder.path, true, list, where);
    if (unreadable) {
        EXPECT_EQ(denied.systemError, static_cast<SystemError>(EACCES));
    }
    ::unlink(where.c_str());
    ::mkdir(where.c_str(), 0700);
    EXPECT_EQ(ReadChecksumListBeside(folder.path, true, list, where).systemError,
              static_cast<SystemError>(EISDIR));
    ::rmdir(where.c_str());
    folder.Write("SHA256SUMS", std::string(kChecksumListLimit + 1, '#'));
    EXPECT_EQ(ReadChecksumListBeside(folder.path, true, list, where).failed,
              FirmwareError::TooLarge);
}

} // namespace
