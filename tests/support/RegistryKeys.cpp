#include "support/RegistryKeys.h"

#include <cstdint>

RegistryKeys::~RegistryKeys() {
    for (auto branch = m_created.rbegin(); branch != m_created.rend(); ++branch)
        ::RegDeleteTreeA(m_root, branch->c_str());
}

bool RegistryKeys::Create(const std::string& path) {
    // One level at a time, to learn where the new part starts: that is the branch to remove.
    bool recorded = false;
    for (size_t end = path.find('\\');; end = path.find('\\', end + 1)) {
        const std::string level = path.substr(0, end);
        HKEY key = nullptr;
        DWORD disposition = 0;
        if (::RegCreateKeyExA(m_root, level.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              &disposition) != ERROR_SUCCESS)
            return false;
        ::RegCloseKey(key);
        if (disposition == REG_CREATED_NEW_KEY && !recorded) {
            m_created.push_back(level);
            recorded = true;
        }
        if (end == std::string::npos)
            return true;
    }
}

bool RegistryKeys::SetBytes(const std::string& path, const std::string& name,
                            const std::string& bytes, DWORD type) {
    if (!Create(path))
        return false;
    HKEY key = nullptr;
    if (::RegOpenKeyExA(m_root, path.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return false;
    const LONG status =
        ::RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                         static_cast<DWORD>(bytes.size()));
    ::RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool RegistryKeys::Exists(const std::string& path) const {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(m_root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    ::RegCloseKey(key);
    return true;
}

namespace {
// The system's handle table (SystemHandleInformation, class 16), as both Windows and Wine give it.
struct HandleEntry {
    ULONG ownerPid;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    PVOID object;
    ULONG access;
};
struct HandleTable {
    ULONG count;
    HandleEntry entries[1];
};
using QuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
constexpr ULONG kSystemHandleInformation = 16;
constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);

bool ReadHandleTable(std::vector<uint8_t>& buffer) {
    const auto query = reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (!query)
        return false;
    buffer.resize(1 << 16);
    for (;;) {
        ULONG needed = 0;
        const LONG status = query(kSystemHandleInformation, buffer.data(),
                                  static_cast<ULONG>(buffer.size()), &needed);
        if (status == 0)
            return true;
        if (status != kInfoLengthMismatch || buffer.size() >= (64u << 20))
            return false;
        buffer.resize(buffer.size() * 2);
    }
}
} // namespace

int OpenRegistryKeyCount() {
    // The key type's number is not fixed: learn it from a key opened for the purpose.
    HKEY probe = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &probe) != ERROR_SUCCESS)
        return -1;
    std::vector<uint8_t> buffer;
    const bool read = ReadHandleTable(buffer);
    ::RegCloseKey(probe);
    if (!read)
        return -1;
    const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
    const DWORD pid = ::GetCurrentProcessId();
    const USHORT probeValue = static_cast<USHORT>(reinterpret_cast<uintptr_t>(probe));
    int keyType = -1;
    for (ULONG i = 0; i < table->count; ++i)
        if (table->entries[i].ownerPid == pid && table->entries[i].value == probeValue)
            keyType = table->entries[i].objectType;
    if (keyType < 0)
        return -1;
    int keys = -1; // the probe itself is in the table
    for (ULONG i = 0; i < table->count; ++i)
        if (table->entries[i].ownerPid == pid && table->entries[i].objectType == keyType)
            ++keys;
    return keys;
}
