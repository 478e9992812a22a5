#pragma once
// CString: the framework's 8-bit text class, a thin wrapper over std::string.

#include <windows.h>

#include <string>

class CString {
  public:
    CString() = default;
    CString(const char* text) : m_text(text ? text : "") {}
    CString(const char* text, int length) : m_text(text, static_cast<size_t>(length)) {}
    CString(const std::string& text) : m_text(text) {}

    operator const char*() const { return m_text.c_str(); }
    const std::string& Str() const { return m_text; }
    // In bytes of the ANSI code page (UTF-8 for this program, so more than one per character).
    int GetLength() const { return static_cast<int>(m_text.size()); }
    // In characters as the user sees them: UTF-16 units, which is what edit controls and Windows
    // paths count; one per character except for those beyond U+FFFF (most emoji), which take two.
    int GetCharacterCount() const;
    bool IsEmpty() const { return m_text.empty(); }
    void Empty() { m_text.clear(); }

    // printf-style formatting; the result replaces the current text.
    void Format(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Loads a string resource of the program's module; false when it does not exist.
    BOOL LoadString(UINT id);

    CString& operator+=(const CString& other) {
        m_text += other.m_text;
        return *this;
    }
    friend CString operator+(const CString& a, const CString& b) {
        return CString(a.m_text + b.m_text);
    }
    friend CString operator+(const CString& a, const char* b) { return CString(a.m_text + b); }
    friend CString operator+(const char* a, const CString& b) { return CString(a + b.m_text); }
    friend bool operator==(const CString& a, const CString& b) { return a.m_text == b.m_text; }
    friend bool operator==(const CString& a, const char* b) { return a.m_text == b; }

  private:
    std::string m_text;
};
