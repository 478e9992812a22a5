#include "support/UpdateBench.h"

#include "res/resource.h"

#include <cstdio>

namespace {
thread_local ControlLog* t_log = nullptr;
constexpr DWORD kCloseWaitMs = 5000;
} // namespace

ControlLog::ControlLog(HWND dialog) : m_dialog(dialog) {
    t_log = this;
    m_hook = ::SetWindowsHookExA(WH_CALLWNDPROC, HookProc, nullptr, ::GetCurrentThreadId());
}

ControlLog::~ControlLog() {
    ::UnhookWindowsHookEx(m_hook);
    if (t_log == this)
        t_log = nullptr;
}

std::vector<std::string> ControlLog::ByteCounts() const {
    std::vector<std::string> counts;
    for (const StatusLine& line : m_status)
        if (line.text.find(" bytes written (") != std::string::npos)
            counts.push_back(line.text);
    return counts;
}

void ControlLog::Clear() {
    m_status.clear();
    m_progress.clear();
}

LRESULT CALLBACK ControlLog::HookProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && t_log)
        t_log->Seen(*reinterpret_cast<const CWPSTRUCT*>(lParam));
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

void ControlLog::Seen(const CWPSTRUCT& message) {
    if (::GetParent(message.hwnd) != m_dialog)
        return;
    const int id = ::GetDlgCtrlID(message.hwnd);
    if (message.message == PBM_SETPOS && id == IDC_PROGRESS) {
        m_progress.push_back(static_cast<int>(message.wParam));
    } else if (message.message == WM_SETTEXT && message.lParam) {
        const std::string text = reinterpret_cast<const char*>(message.lParam);
        if (id == IDC_STATUS) {
            const int position = static_cast<int>(
                ::SendMessageA(::GetDlgItem(m_dialog, IDC_PROGRESS), PBM_GETPOS, 0, 0));
            m_status.push_back({text, position});
        }
        if (m_action)
            m_action(id, text);
    }
}

void PostUpdateClick(HWND dialog) {
    ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_UPDATE, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDC_UPDATE)));
}

Watchdog::Watchdog(DWORD limitMs)
    : m_limitMs(limitMs), m_done(::CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      m_thread(::CreateThread(nullptr, 0, Watch, this, 0, nullptr)) {}

Watchdog::~Watchdog() {
    ::SetEvent(m_done);
    ::WaitForSingleObject(m_thread, INFINITE);
    ::CloseHandle(m_thread);
    ::CloseHandle(m_done);
}

DWORD WINAPI Watchdog::Watch(void* self) {
    auto* watchdog = static_cast<Watchdog*>(self);
    if (::WaitForSingleObject(watchdog->m_done, watchdog->m_limitMs) == WAIT_TIMEOUT) {
        std::fprintf(stderr, "Test hung: still running after %lu ms\n",
                     static_cast<unsigned long>(watchdog->m_limitMs));
        std::fflush(stderr);
        ::TerminateProcess(::GetCurrentProcess(), 3);
    }
    return 0;
}

UpdateBench::UpdateBench(DWORD watchdogMs)
    : m_watchdog(watchdogMs), m_harness(""), m_log(m_harness.Dialog().m_hWnd) {}

void UpdateBench::SetUp() {
    ASSERT_TRUE(m_equipment.Start({kPort})) << m_equipment.Error();
}

void UpdateBench::SelectEquipment(int port, signed char deviceId, signed char version) {
    CUpdateUtilityDlg& dialog = Dialog();
    dialog.m_deviceCount = 1;
    dialog.m_equipmentList.ResetContent();
    const int entry = dialog.m_equipmentList.AddString("Orvane Mixer, firmware version 007");
    dialog.m_equipmentList.SetItemData(entry, static_cast<DWORD_PTR>(port));
    dialog.m_equipmentList.SetCurSel(entry);
    if (port >= 0 && port < kEquipmentSlots) {
        dialog.m_portDeviceId[port] = deviceId;
        dialog.m_portFirmwareVersion[port] = version;
    }
    dialog.UpdateControls();
}

DWORD UpdateBench::Update(const TempFile& file) {
    EnterPath(file);
    const DWORD start = ::GetTickCount();
    m_harness.Click(IDC_UPDATE);
    return ::GetTickCount() - start;
}

void UpdateBench::Reset() {
    ReceivedInAll();
    m_equipment.ClearReceived(kPort);
    Boxes().Clear();
    m_log.Clear();
    ::ShowWindow(Window(), SW_SHOW);
}

void UpdateBench::Configure(const std::string& behaviour) {
    ASSERT_TRUE(m_equipment.Configure(kPort, behaviour)) << m_equipment.Error();
}

std::string UpdateBench::ReceivedInAll() {
    if (Dialog().m_portOpen) {
        const int closes = CloseCount();
        Dialog().CloseMasterPort();
        Dialog().m_portOpen = false;
        const DWORD start = ::GetTickCount();
        while (CloseCount() <= closes && ::GetTickCount() - start < kCloseWaitMs)
            ::Sleep(5);
        EXPECT_GT(CloseCount(), closes) << "the unit never saw the port close";
    }
    return m_equipment.Received(kPort);
}

int UpdateBench::CloseCount() const {
    return EventCount("close");
}

int UpdateBench::EventCount(const std::string& prefix) const {
    return SimEquipment::CountEventLines(m_equipment.Events(kPort), prefix);
}

bool UpdateBench::FileIsFree(const TempFile& file) {
    HANDLE handle = ::CreateFileA(file.Path().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    ::CloseHandle(handle);
    return true;
}

void UpdateBench::ExpectIdle() {
    CUpdateUtilityDlg& dialog = Dialog();
    EXPECT_FALSE(dialog.m_transferActive);
    EXPECT_FALSE(dialog.m_cancelRequested);
    EXPECT_EQ(dialog.m_hSourceFile, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(::IsWindowVisible(Window()));
    EXPECT_EQ(m_harness.Text(IDC_UPDATE), "Update");
    for (int id :
         {IDC_UPDATE, IDC_REFRESH_LIST, IDC_EQUIPMENT_LIST, IDC_SOURCE_PATH, IDC_BROWSE, IDCANCEL})
        EXPECT_TRUE(m_harness.Enabled(id)) << id;
    EXPECT_FALSE(m_harness.Shown(IDC_PROGRESS));
    EXPECT_FALSE(m_harness.Shown(IDC_WARNING));
    EXPECT_FALSE(AfxGetApp()->IsWaitCursorShown());
}

void UpdateBench::ExpectCompleted() {
    ASSERT_FALSE(Boxes().Shown().empty());
    const ShownMessageBox& box = Boxes().Shown().back();
    EXPECT_EQ(box.text, "Your equipment has been successfully updated");
    EXPECT_EQ(box.caption, "Transfer Complete");
    EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
    EXPECT_FALSE(box.anyIcon);
    // Confirming it ended the dialog, which (created modeless here) hides it.
    EXPECT_FALSE(::IsWindowVisible(Window()));
    EXPECT_TRUE(Dialog().m_portOpen);
    EXPECT_NE(Dialog().m_hComPort, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(Dialog().m_transferActive);
    EXPECT_FALSE(AfxGetApp()->IsWaitCursorShown());
}
