#pragma once
// What the system sends a window about devices and dropped files, built in the test: device
// broadcast structures for WM_DEVICECHANGE and an HDROP for WM_DROPFILES.
//
// WM_DEVICECHANGE with a structure (arrival, removal) cannot be posted: the system refuses to
// post a message whose lParam points to data. A test therefore sends it to the dialog on the
// dialog's own thread, directly or from a timer that the dialog's pump dispatches.

#include <windows.h>

#include <dbt.h>
#include <shellapi.h>

#include <functional>
#include <string>
#include <vector>

// A device broadcast structure, sized as the system sizes it (the name inside).
class DeviceNotice {
  public:
    // DEV_BROADCAST_PORT naming a port ("COM5").
    static DeviceNotice Port(const std::string& name);
    // DEV_BROADCAST_DEVICEINTERFACE of the USB device with these IDs and serial number.
    static DeviceNotice UsbDevice(WORD vid, WORD pid, const std::string& serial);

    LPARAM Data() const { return reinterpret_cast<LPARAM>(m_bytes.data()); }

  private:
    std::vector<BYTE> m_bytes;
};

// Sends WM_DEVICECHANGE; notice nullptr for the events that carry none (DBT_DEVNODES_CHANGED).
void SendDeviceChange(HWND window, WPARAM event, const DeviceNotice* notice = nullptr);

// Calls the action once, from the thread's message pump, after delayMs: a timer of this thread,
// so it runs while the code under test pumps (during a transfer's wait, inside a box).
class PumpedAction {
  public:
    PumpedAction(DWORD delayMs, std::function<void()> action);
    ~PumpedAction();
    PumpedAction(const PumpedAction&) = delete;
    PumpedAction& operator=(const PumpedAction&) = delete;

    bool Done() const { return m_done; }
    DWORD DoneTick() const { return m_doneTick; }

  private:
    static void CALLBACK Fire(HWND, UINT, UINT_PTR id, DWORD);

    std::function<void()> m_action;
    UINT_PTR m_timer = 0;
    bool m_done = false;
    DWORD m_doneTick = 0;
};

// Dispatches this thread's messages until the condition holds or limitMs has passed; true when
// the condition held.
bool PumpUntil(const std::function<bool()>& condition, DWORD limitMs);

// An HDROP as Explorer gives it (wide names), owned by whoever receives WM_DROPFILES.
HDROP MakeDrop(const std::vector<std::string>& paths);
