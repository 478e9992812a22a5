#pragma once
// Registry keys that a test writes, as the USB and bridge drivers would, removed again when the
// object goes; and what the process holds open in the registry.

#include <windows.h>

#include <string>
#include <vector>

class RegistryKeys {
  public:
    explicit RegistryKeys(HKEY root = HKEY_LOCAL_MACHINE) : m_root(root) {}
    // Removes every branch this object created, newest first; keys that were there before stay.
    ~RegistryKeys();
    RegistryKeys(const RegistryKeys&) = delete;
    RegistryKeys& operator=(const RegistryKeys&) = delete;

    // Creates the key and any missing parents.
    bool Create(const std::string& path);
    // A value holding exactly these bytes (no NUL added); the key is created when missing.
    bool SetBytes(const std::string& path, const std::string& name, const std::string& bytes,
                  DWORD type = REG_SZ);
    // A text value with its terminating NUL, as the drivers write it.
    bool SetText(const std::string& path, const std::string& name, const std::string& text) {
        return SetBytes(path, name, std::string(text) + '\0');
    }
    bool Exists(const std::string& path) const;

  private:
    HKEY m_root;
    std::vector<std::string> m_created; // the top key of each branch this object made
};

// Registry key handles this process holds open, or -1 when the system does not tell. The
// system's own handles of the predefined roots count too, so compare two counts.
int OpenRegistryKeyCount();
