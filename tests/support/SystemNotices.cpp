#include "support/SystemNotices.h"

#include <shlobj.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <map>

namespace {
// The timers of PumpedAction objects alive on this thread, by timer id.
thread_local std::map<UINT_PTR, PumpedAction*> t_actions;

std::wstring Wide(const std::string& text) {
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length);
    wide.resize(wide.size() - 1);
    return wide;
}
} // namespace

DeviceNotice DeviceNotice::Port(const std::string& name) {
    DeviceNotice notice;
    notice.m_bytes.resize(offsetof(DEV_BROADCAST_PORT_A, dbcp_name) + name.size() + 1);
    auto* port = reinterpret_cast<DEV_BROADCAST_PORT_A*>(notice.m_bytes.data());
    port->dbcp_size = static_cast<DWORD>(notice.m_bytes.size());
    port->dbcp_devicetype = DBT_DEVTYP_PORT;
    std::memcpy(port->dbcp_name, name.c_str(), name.size() + 1);
    return notice;
}

DeviceNotice DeviceNotice::UsbDevice(WORD vid, WORD pid, const std::string& serial) {
    char path[256];
    std::snprintf(path, sizeof(path),
                  "\\\\?\\USB#VID_%04X&PID_%04X#%s#{a5dcbf10-6530-11d2-901f-00c04fb951ed}", vid,
                  pid, serial.c_str());
    const size_t length = std::strlen(path);
    DeviceNotice notice;
    notice.m_bytes.resize(offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) + length + 1);
    auto* device = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(notice.m_bytes.data());
    device->dbcc_size = static_cast<DWORD>(notice.m_bytes.size());
    device->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    device->dbcc_classguid = {
        0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
    std::memcpy(device->dbcc_name, path, length + 1);
    return notice;
}

void SendDeviceChange(HWND window, WPARAM event, const DeviceNotice* notice) {
    ::SendMessageA(window, WM_DEVICECHANGE, event, notice ? notice->Data() : 0);
}

PumpedAction::PumpedAction(DWORD delayMs, std::function<void()> action)
    : m_action(std::move(action)), m_timer(::SetTimer(nullptr, 0, delayMs, Fire)) {
    t_actions[m_timer] = this;
}

PumpedAction::~PumpedAction() {
    ::KillTimer(nullptr, m_timer);
    t_actions.erase(m_timer);
}

void CALLBACK PumpedAction::Fire(HWND, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(nullptr, id);
    const auto found = t_actions.find(id);
    if (found == t_actions.end() || found->second->m_done)
        return;
    PumpedAction& self = *found->second;
    self.m_done = true;
    self.m_action();
    self.m_doneTick = ::GetTickCount();
}

bool PumpUntil(const std::function<bool()>& condition, DWORD limitMs) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
            if (condition())
                return true;
        }
        if (condition())
            return true;
        if (::GetTickCount() - start >= limitMs)
            return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

HDROP MakeDrop(const std::vector<std::string>& paths) {
    std::wstring names;
    for (const std::string& path : paths)
        names += Wide(path) + L'\0';
    names += L'\0';
    const size_t bytes = sizeof(DROPFILES) + names.size() * sizeof(wchar_t);
    HGLOBAL memory = ::GlobalAlloc(GHND, bytes);
    auto* drop = static_cast<DROPFILES*>(::GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    std::memcpy(reinterpret_cast<BYTE*>(drop) + sizeof(DROPFILES), names.data(),
                names.size() * sizeof(wchar_t));
    ::GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}
