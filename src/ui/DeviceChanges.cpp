// Hot-plug and unplug: the window follows the system's device notices. Notices come in bursts
// (a bridge brings a USB device, its interface and its port), so the list is refreshed once
// they have stopped for a while, and only when the window is idle; such a refresh asks the
// chosen unit, the units that are new, that a notice named or whose last answer failed, and
// keeps to the unit the user chose. A removal of
// the port that a transfer writes to ends the transfer at once.
#include "text/Messages.h"
#include "ui/UpdateUtilityDlg.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {
// Device interface classes: COM ports, and USB devices (the bridge itself).
constexpr GUID kComPortInterface = {
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};
constexpr GUID kUsbDeviceInterface = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

// The first failure's reason goes into failure, taken at the failing call.
HDEVNOTIFY RegisterInterfaceClass(HWND window, const GUID& interfaceClass, DWORD& failure) {
    DEV_BROADCAST_DEVICEINTERFACE_A filter{};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = interfaceClass;
    HDEVNOTIFY notices =
        ::RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    if (!notices && failure == ERROR_SUCCESS)
        failure = ::GetLastError();
    return notices;
}

// The name a notice carries, read no further than the notice's own size says.
std::string NoticeName(const DEV_BROADCAST_HDR& notice, const char* name) {
    const size_t offset = static_cast<size_t>(name - reinterpret_cast<const char*>(&notice));
    if (notice.dbch_size <= offset)
        return "";
    return std::string(name, strnlen(name, notice.dbch_size - offset));
}

std::string NoticeName(const DEV_BROADCAST_HDR& notice) {
    if (notice.dbch_devicetype == DBT_DEVTYP_PORT)
        return NoticeName(notice, reinterpret_cast<const DEV_BROADCAST_PORT_A&>(notice).dbcp_name);
    if (notice.dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE)
        return NoticeName(
            notice, reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A&>(notice).dbcc_name);
    return "";
}

bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && ::_strnicmp(a.c_str(), b.c_str(), a.size()) == 0;
}

// The parts of a device interface path, "\\?\USB#VID_10C4&PID_EA60#<serial>#{class}".
std::vector<std::string> PathParts(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t hash = path.find('#'); hash != std::string::npos; hash = path.find('#', start)) {
        parts.push_back(path.substr(start, hash - start));
        start = hash + 1;
    }
    parts.push_back(path.substr(start));
    return parts;
}

// Whether a notice of this kind and name names the unit's COM port, or the USB device of its
// bridge or that device's port interface: the device's ID names the bridge's VID and PID, its
// instance the bridge's serial number.
bool NamesUnit(DWORD type, const std::string& name, const Unit& unit) {
    if (type == DBT_DEVTYP_PORT)
        return SameText(name, "COM" + std::to_string(unit.port));
    const std::vector<std::string> parts = PathParts(name);
    if (unit.serial.empty() || parts.size() < 3)
        return false;
    char ids[32];
    std::snprintf(ids, sizeof(ids), "VID_%04X&PID_%04X", unit.vid, unit.pid);
    return SameText(parts[1].substr(0, std::strlen(ids)), ids) && SameText(parts[2], unit.serial);
}

const char* EventName(WPARAM event) {
    switch (event) {
    case DBT_DEVICEARRIVAL:
        return "arrival";
    case DBT_DEVICEREMOVECOMPLETE:
        return "removal";
    default:
        return "change";
    }
}
} // namespace

void CUpdateUtilityDlg::RegisterForDeviceNotices() {
    // Ports are announced to every top-level window anyway; the interfaces only when asked.
    DWORD failure = ERROR_SUCCESS;
    m_portNotices = RegisterInterfaceClass(m_hWnd, kComPortInterface, failure);
    m_usbNotices = RegisterInterfaceClass(m_hWnd, kUsbDeviceInterface, failure);
    if (!m_portNotices || !m_usbNotices)
        m_supportLog.Write("device notices: registration failed: " + SystemReason(failure));
}

void CUpdateUtilityDlg::UnregisterDeviceNotices() {
    for (HDEVNOTIFY* notices : {&m_portNotices, &m_usbNotices}) {
        if (*notices)
            ::UnregisterDeviceNotification(*notices);
        *notices = nullptr;
    }
}

void CUpdateUtilityDlg::OnDeviceChange(WPARAM event, LPARAM data) {
    const auto* notice = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    if (event == DBT_DEVICEARRIVAL || event == DBT_DEVICEREMOVECOMPLETE) {
        // Volumes, handles and the like are no equipment.
        if (!notice || (notice->dbch_devicetype != DBT_DEVTYP_PORT &&
                        notice->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE))
            return;
    } else if (event != DBT_DEVNODES_CHANGED) {
        return;
    }
    m_supportLog.Write(std::string("device ") + EventName(event) +
                       (notice ? ": " + NoticeName(*notice) : std::string()));
    if (event != DBT_DEVNODES_CHANGED) {
        const NoticedDevice named{notice->dbch_devicetype, NoticeName(*notice)};
        if (event == DBT_DEVICEREMOVECOMPLETE && m_transferActive && !m_portRemoved &&
            NamesUnit(named.type, named.name, m_transferUnit)) {
            m_portRemoved = true;
            m_supportLog.Write("the port of the transfer was removed: the transfer stops");
        }
        // Each device once, however often it comes and goes before the next refresh.
        if (std::none_of(m_noticedDevices.begin(), m_noticedDevices.end(),
                         [&named](const NoticedDevice& device) {
                             return device.type == named.type && device.name == named.name;
                         }))
            m_noticedDevices.push_back(named);
    }
    m_deviceChangePending = true;
    // Each notice starts the wait again, so a burst gives one refresh after its last notice.
    ::SetTimer(m_hWnd, kDeviceSettleTimer, m_deviceSettleMs, nullptr);
}

const Unit* CUpdateUtilityDlg::KeptListing(const Unit& unit, const std::vector<Unit>& lastListed,
                                           const std::vector<NoticedDevice>& noticed) const {
    // Another program may have changed the chosen unit's firmware without a re-plug, and the
    // check compares the file with its answer: it is asked every time.
    if (m_chosenUnit && SameBridge(unit, *m_chosenUnit))
        return nullptr;
    if (std::any_of(noticed.begin(), noticed.end(), [&unit](const NoticedDevice& device) {
            return NamesUnit(device.type, device.name, unit);
        }))
        return nullptr;
    const auto listed =
        std::find_if(lastListed.begin(), lastListed.end(), [&unit](const Unit& last) {
            return SameBridge(last, unit) && last.port == unit.port && last.device == unit.device;
        });
    // A unit whose last answer was a failure (no answer, a port that could not be opened) may
    // answer now.
    return listed == lastListed.end() || !listed->answered ? nullptr : &*listed;
}

bool CUpdateUtilityDlg::IdleForRefresh() const {
    // A box or dialog of ours (an error, the cancel question, Browse) disables the window.
    return !m_operationRunning && !m_transferActive && ::IsWindowVisible(m_hWnd) &&
           ::IsWindowEnabled(m_hWnd) && !m_equipmentList.SendMessage(CB_GETDROPPEDSTATE);
}

void CUpdateUtilityDlg::OnDeviceSettled() {
    ::KillTimer(m_hWnd, kDeviceSettleTimer);
    // A window that has ended (the update completed, Exit) no longer refreshes.
    if (!m_deviceChangePending || (m_windowShown && !::IsWindowVisible(m_hWnd)))
        return;
    if (!IdleForRefresh()) {
        // Looked at again later: the change is handled once the window is idle, and shown (a
        // box of the first refresh comes up before it is).
        ::SetTimer(m_hWnd, kDeviceSettleTimer, m_deviceSettleMs, nullptr);
        return;
    }
    m_deviceChangePending = false;
    RefreshAfterDeviceChanges();
}

void CUpdateUtilityDlg::RefreshAfterDeviceChanges() {
    m_supportLog.Write("list refresh after device changes");
    m_automaticRefresh = true;
    RefreshEquipmentList();
    m_automaticRefresh = false;
    SelectChosenUnit();
    m_selectedPort = SelectedPortFromList();
    UpdateControls();
}
