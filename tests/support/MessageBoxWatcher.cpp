#include "support/MessageBoxWatcher.h"

namespace {
thread_local MessageBoxWatcher* t_watcher = nullptr;
constexpr int kMessageBoxTextId = 0xFFFF;
} // namespace

MessageBoxWatcher::MessageBoxWatcher() {
    t_watcher = this;
    m_hook = ::SetWindowsHookExA(WH_CBT, HookProc, nullptr, ::GetCurrentThreadId());
}

MessageBoxWatcher::~MessageBoxWatcher() {
    ::UnhookWindowsHookEx(m_hook);
    if (t_watcher == this)
        t_watcher = nullptr;
}

std::vector<std::string> MessageBoxWatcher::Texts() const {
    std::vector<std::string> texts;
    for (const auto& box : m_shown)
        texts.push_back(box.text);
    return texts;
}

LRESULT CALLBACK MessageBoxWatcher::HookProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && t_watcher) {
        HWND window = reinterpret_cast<HWND>(wParam);
        char className[32] = {};
        ::GetClassNameA(window, className, sizeof(className));
        // Message boxes carry their text in a static with id 0xFFFF; the open-file dialog and
        // other dialogs do not.
        if (std::string(className) == "#32770" && ::GetDlgItem(window, kMessageBoxTextId))
            t_watcher->Handle(window);
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

void MessageBoxWatcher::Handle(HWND box) {
    ShownMessageBox shown;
    char buffer[2048] = {};
    ::GetDlgItemTextA(box, kMessageBoxTextId, buffer, sizeof(buffer));
    shown.text = buffer;
    ::GetWindowTextA(box, buffer, sizeof(buffer));
    shown.caption = buffer;
    for (int id : {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO})
        if (::GetDlgItem(box, id))
            shown.buttons.push_back(id);
    HICON exclamation = ::LoadIconA(nullptr, IDI_EXCLAMATION);
    for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if ((::GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON)
            continue;
        HICON icon = reinterpret_cast<HICON>(::SendMessageA(child, STM_GETICON, 0, 0));
        if (icon && (::GetWindowLongA(child, GWL_STYLE) & WS_VISIBLE)) {
            shown.anyIcon = true;
            shown.exclamationIcon = shown.exclamationIcon || icon == exclamation;
        }
    }
    m_shown.push_back(shown);
    int answer = shown.buttons.empty() ? IDOK : shown.buttons.front();
    if (!m_answers.empty()) {
        answer = m_answers.front();
        m_answers.pop_front();
    }
    if (m_action)
        m_action(m_context);
    ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(box, answer)));
}
