#include "String.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

void CString::Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length < 0) {
        m_text.clear();
    } else {
        std::vector<char> buffer(static_cast<size_t>(length) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        m_text.assign(buffer.data(), static_cast<size_t>(length));
    }
    va_end(args);
}

int CString::GetCharacterCount() const {
    if (m_text.empty())
        return 0;
    return ::MultiByteToWideChar(CP_ACP, 0, m_text.data(), GetLength(), nullptr, 0);
}

BOOL CString::LoadString(UINT id) {
    // A string table entry is at most 65535 UTF-16 units, each at most three bytes in the ANSI
    // code page (UTF-8); LoadStringA with a zero-length buffer is not usable for the ANSI form,
    // so read into a buffer of the largest size.
    std::vector<char> buffer(3 * 65535 + 1);
    const int length = ::LoadStringA(::GetModuleHandleA(nullptr), id, buffer.data(),
                                     static_cast<int>(buffer.size()));
    m_text.assign(buffer.data(), static_cast<size_t>(length > 0 ? length : 0));
    return length > 0;
}
