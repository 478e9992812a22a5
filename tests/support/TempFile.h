#pragma once
// Files in the test's temporary folder, removed when the object goes.

#include <string>
#include <vector>

class TempFile {
  public:
    // A new file with the given bytes.
    explicit TempFile(const std::string& contents, const char* extension = ".tmp");
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::string& Path() const { return m_path; }
    void Write(const std::string& contents) const;

  private:
    std::string m_path;
};

// A new folder in the test's temporary folder: a fresh name of its own, then the given levels
// (separated by '\\', any script). Removed, with the files added to it, when the object goes.
class TempFolder {
  public:
    explicit TempFolder(const std::string& levels);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The innermost level; empty when a level could not be made.
    const std::string& Path() const { return m_path; }
    // Writes a file into the innermost level; returns its full path.
    std::string Add(const std::string& name, const std::string& contents);

  private:
    std::vector<std::string> m_levels; // outermost first
    std::vector<std::string> m_files;
    std::string m_path;
};

// Reads a whole file; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);
