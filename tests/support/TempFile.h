#pragma once
// Files in the test's temporary folder, removed when the object goes.

#include <string>

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

// Reads a whole file; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);
