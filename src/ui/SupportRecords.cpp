// What the window records in the support log: the program and the system, the bridge library,
// each unit found, the file chosen and its check. Messages and transfers are recorded where
// they happen.
#include "discovery/BridgeLibrary.h"
#include "log/Sha256.h"
#include "text/Messages.h"
#include "ui/UpdateUtilityDlg.h"

#include <cstdio>

namespace {
// Firmware is far smaller; a larger file (a wrong choice, refused anyway) is not read whole while
// the window cannot answer.
constexpr LONGLONG kHashLimitBytes = 64LL * 1024 * 1024;

std::string ModulePath(HMODULE module) {
    // MAX_PATH counts UTF-16 units; in UTF-8 each takes up to three bytes.
    char path[3 * MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameA(module, path, sizeof(path));
    return length && length < sizeof(path) ? path : "";
}

// The version Windows really is: GetVersionEx reports at most what the manifest names.
std::string WindowsVersion() {
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    const auto rtlGetVersion = reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "RtlGetVersion")));
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!rtlGetVersion || rtlGetVersion(&info) != 0)
        return "unknown";
    return std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion) +
           " build " + std::to_string(info.dwBuildNumber);
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

std::string Field(const std::optional<int>& value) {
    return value ? std::to_string(*value) : "not a number";
}

const char* VerdictName(Verdict verdict) {
    return verdict == Verdict::Accepted ? "accepted" : MessageFor(verdict);
}
} // namespace

void CUpdateUtilityDlg::LogStart() const {
    const std::string version = FileVersion(ModulePath(nullptr));
    m_supportLog.Write("Orvane Update Utility " + (version.empty() ? "(no version)" : version) +
                       " (" + std::to_string(BridgeLibrary::kProcessBits) + "-bit) on Windows " +
                       WindowsVersion());
}

void CUpdateUtilityDlg::LogBridgeSource() const {
    if (m_finder.Source() == BridgeSource::DeviceList) {
        const DiscoveryResult& why = m_finder.LibraryProblem();
        m_supportLog.Write(std::string(DeviceListNotice(why.failed)) + " (" +
                           SystemReason(why.systemError) + "), " + std::to_string(m_deviceCount) +
                           " bridge(s)");
        return;
    }
    const std::string path = ModulePath(::GetModuleHandleA(BridgeLibrary::kFileName));
    const std::string version = FileVersion(path);
    m_supportLog.Write("bridge library: " + path + ", version " +
                       (version.empty() ? "unknown" : version) + ", " +
                       std::to_string(m_deviceCount) + " bridge(s)");
}

void CUpdateUtilityDlg::LogUnit(const Unit& unit) const {
    char ids[16];
    std::snprintf(ids, sizeof(ids), "%04X:%04X", unit.vid, unit.pid);
    std::string line = "unit " + std::to_string(unit.index) + ": " + Quoted(unit.product) +
                       ", serial " + Quoted(unit.serial) + ", " + ids + ", " +
                       (unit.port >= 0 ? "COM" + std::to_string(unit.port) : "no port") + ", ";
    if (!unit.queried)
        line += "not asked again, its last answer: ";
    if (!unit.portOpened) {
        line += "port not opened: " + Quoted(MessageFor(unit.portOpened.failed)) + " (" +
                SystemReason(unit.portOpened.systemError) + ")";
    } else if (unit.answered) {
        char reply[16];
        std::snprintf(reply, sizeof(reply), "reply %02X %02X", unit.reply.deviceId,
                      unit.reply.version);
        line += reply;
    } else {
        line += "no reply to the version query";
    }
    m_supportLog.Write(line);
}

void CUpdateUtilityDlg::LogChosenUnit() const {
    if (!m_chosenUnit) {
        m_supportLog.Write("chosen unit: none");
        return;
    }
    const Unit& unit = *m_chosenUnit;
    m_supportLog.Write("chosen unit: " + Quoted(unit.product) + ", serial " + Quoted(unit.serial) +
                       ", " + (unit.port >= 0 ? "COM" + std::to_string(unit.port) : "no port"));
}

bool CUpdateUtilityDlg::LogChosenFile(DWORD& seekError) {
    LARGE_INTEGER size{};
    const bool sized = ::GetFileSizeEx(m_sourceFile.System().file, &size) != FALSE;
    std::string digest = "not computed (over 64 MiB)";
    bool rewound = true;
    seekError = ERROR_SUCCESS;
    if (sized && size.QuadPart <= kHashLimitBytes) {
        rewound = Sha256OfOpenFile(m_sourceFile.System().file, digest, seekError);
        if (digest.empty())
            digest = "unavailable";
    }
    m_supportLog.Write("file chosen: " + m_sourcePath.Str() + ", " +
                       (sized ? std::to_string(size.QuadPart) + " bytes" : "size unknown") +
                       ", SHA-256 " + digest);
    return rewound;
}

void CUpdateUtilityDlg::LogCheck(const HeaderFields& fields, Verdict verdict,
                                 bool overrideHeld) const {
    if (overrideHeld) {
        m_supportLog.Write("file check: skipped, Shift held (header not read), verdict " +
                           std::string(VerdictName(verdict)));
        return;
    }
    m_supportLog.Write("file check: device ID " + Field(fields.deviceId) + ", version " +
                       Field(fields.version) + ", verdict " + VerdictName(verdict) +
                       ", Shift not held");
}
