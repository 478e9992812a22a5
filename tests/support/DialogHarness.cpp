#include "support/DialogHarness.h"

DialogHarness::DialogHarness(const std::string& bridges, bool create)
    : m_bridges(bridges, ".txt"), m_dialog(std::make_unique<CUpdateUtilityDlg>()) {
    ::SetEnvironmentVariableA("ORVANE_SIM_BRIDGES", m_bridges.Path().c_str());
    if (create)
        Create();
}

DialogHarness::~DialogHarness() {
    m_dialog.reset();
    ::SetEnvironmentVariableA("ORVANE_SIM_BRIDGES", nullptr);
}

void DialogHarness::Create() {
    AfxGetApp()->m_pMainWnd = m_dialog.get();
    m_dialog->Create();
}

std::string DialogHarness::Text(int id) const {
    char buffer[4096] = {};
    ::GetWindowTextA(Control(id), buffer, sizeof(buffer));
    return buffer;
}

void DialogHarness::SetText(int id, const std::string& text) const {
    ::SetWindowTextA(Control(id), text.c_str());
}

bool DialogHarness::Shown(int id) const {
    return (::GetWindowLongA(Control(id), GWL_STYLE) & WS_VISIBLE) != 0;
}

void DialogHarness::Click(int id) const {
    ::SendMessageA(m_dialog->m_hWnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(Control(id)));
}

std::vector<std::string> DialogHarness::ListEntries() const {
    std::vector<std::string> entries;
    HWND list = Control(1007);
    const int count = static_cast<int>(::SendMessageA(list, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char buffer[512] = {};
        ::SendMessageA(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(buffer));
        entries.push_back(buffer);
    }
    return entries;
}

std::vector<LRESULT> DialogHarness::ListItemData() const {
    std::vector<LRESULT> data;
    HWND list = Control(1007);
    const int count = static_cast<int>(::SendMessageA(list, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i)
        data.push_back(::SendMessageA(list, CB_GETITEMDATA, i, 0));
    return data;
}

int DialogHarness::ListSelection() const {
    return static_cast<int>(::SendMessageA(Control(1007), CB_GETCURSEL, 0, 0));
}

void DialogHarness::Choose(int entry) const {
    ::SendMessageA(Control(1007), CB_SETCURSEL, entry, 0);
    ::SendMessageA(m_dialog->m_hWnd, WM_COMMAND, MAKEWPARAM(1007, CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(Control(1007)));
}

ShiftHeld::ShiftHeld() {
    ::GetKeyboardState(m_saved);
    BYTE state[256];
    memcpy(state, m_saved, sizeof(state));
    state[VK_SHIFT] = 0x80;
    ::SetKeyboardState(state);
}

ShiftHeld::~ShiftHeld() {
    ::SetKeyboardState(m_saved);
}
