#include "Wnd.h"

#include <map>
#include <memory>
#include <vector>

namespace {
// Window property that points from a window to the object bound to it.
const char kObjectProperty[] = "OrvaneFrameworkObject";

// Wrappers handed out for windows that no object is bound to. They are reused per handle and
// live for the rest of the thread, like the framework's temporary objects.
thread_local std::map<HWND, std::unique_ptr<CWnd>> g_temporaryWindows;
} // namespace

CWnd::~CWnd() {
    Detach();
}

BOOL CWnd::Attach(HWND hWnd) {
    if (!hWnd || m_hWnd)
        return FALSE;
    m_hWnd = hWnd;
    ::SetPropA(hWnd, kObjectProperty, this);
    return TRUE;
}

HWND CWnd::Detach() {
    HWND hWnd = m_hWnd;
    if (hWnd && ::GetPropA(hWnd, kObjectProperty) == this)
        ::RemovePropA(hWnd, kObjectProperty);
    m_hWnd = nullptr;
    return hWnd;
}

BOOL CWnd::SubclassDlgItem(UINT id, CWnd* parent) {
    return Attach(::GetDlgItem(parent->m_hWnd, static_cast<int>(id)));
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
    return hWnd ? static_cast<CWnd*>(::GetPropA(hWnd, kObjectProperty)) : nullptr;
}

CWnd* CWnd::FromHandle(HWND hWnd) {
    if (!hWnd)
        return nullptr;
    if (CWnd* bound = FromHandlePermanent(hWnd))
        return bound;
    auto& wrapper = g_temporaryWindows[hWnd];
    if (!wrapper)
        wrapper = std::make_unique<CWnd>();
    wrapper->m_hWnd = hWnd;
    return wrapper.get();
}

void CWnd::GetWindowText(CString& text) const {
    const int length = ::GetWindowTextLengthA(m_hWnd);
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    const int copied = ::GetWindowTextA(m_hWnd, buffer.data(), length + 1);
    text = CString(buffer.data(), copied > 0 ? copied : 0);
}

bool CWnd::OnChildNotify(UINT, WPARAM, LPARAM) {
    return false;
}

bool CButton::OnChildNotify(UINT message, WPARAM, LPARAM lParam) {
    if (message != WM_DRAWITEM)
        return false;
    DrawItem(reinterpret_cast<LPDRAWITEMSTRUCT>(lParam));
    return true;
}

void CComboBox::GetLBText(int index, CString& text) const {
    const LRESULT length = SendMessage(CB_GETLBTEXTLEN, index);
    if (length == CB_ERR) {
        text.Empty();
        return;
    }
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    SendMessage(CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(buffer.data()));
    text = CString(buffer.data(), static_cast<int>(length));
}
