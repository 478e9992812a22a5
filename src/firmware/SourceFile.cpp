// The firmware file: open, compatibility check of its header, close.
#include "firmware/HeaderField.h"
#include "update/UpdateUtilityDlg.h"

namespace {
constexpr DWORD kHeaderSize = 512;
constexpr DWORD kDeviceIdOffset = 257;
constexpr DWORD kVersionOffset = 259;
} // namespace

BOOL CUpdateUtilityDlg::OpenSourceFile() {
    m_hSourceFile = ::CreateFileA(m_sourcePath, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_hSourceFile == INVALID_HANDLE_VALUE) {
        ReportError("Error opening Source File");
        return FALSE;
    }
    return TRUE;
}

BOOL CUpdateUtilityDlg::CheckSourceHeader() {
    // Shift held down skips the check altogether.
    if (::GetKeyState(VK_SHIFT) & 0x8000)
        return TRUE;

    char header[kHeaderSize];
    DWORD read = 0;
    if (!::ReadFile(m_hSourceFile, header, kHeaderSize, &read, nullptr)) {
        ReportError("Unable to read from source file");
        return FALSE;
    }
    if (read != kHeaderSize) {
        ReportError("Source file too short to retrieve header information");
        return FALSE;
    }
    if (::SetFilePointer(m_hSourceFile, 0, nullptr, FILE_BEGIN) != 0) {
        ReportError("Unable to rewind source file");
        return FALSE;
    }
    const std::optional<int> deviceId = ParseHeaderField(header + kDeviceIdOffset);
    const std::optional<int> version = ParseHeaderField(header + kVersionOffset);
    if (!deviceId || !version) {
        ReportError("Unable to get device ID from file");
        return FALSE;
    }
    // The table has no slot for a port outside 0..16 (nor for the placeholder entry's 255).
    const int slot = m_selectedPort;
    if (slot >= kEquipmentSlots) {
        ReportError("The file cannot be checked: no equipment on COM0 to COM16 is selected");
        return FALSE;
    }
    if (*deviceId != m_portDeviceId[slot]) {
        ReportError("This file is not meant for the connected equipment");
        return FALSE;
    }
    if (*version < m_portFirmwareVersion[slot]) {
        ReportError("This file version is older than the current firmware");
        return FALSE;
    }
    if (*version == m_portFirmwareVersion[slot]) {
        ReportError("Your equipment already has the latest firmware installed");
        return FALSE;
    }
    return TRUE;
}

void CUpdateUtilityDlg::CloseSourceFile() {
    ::CloseHandle(m_hSourceFile);
    m_hSourceFile = INVALID_HANDLE_VALUE;
}
