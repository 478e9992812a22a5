#include "ui/DisplayScale.h"

#include "res/resource.h"

#include <iterator>
#include <string>

namespace {

constexpr UINT kBaseDpi = 96;
// Not declared for the Windows 7 headers this program builds with.
constexpr UINT kDialogDpiChangeDisableAll = 1; // DDC_DISABLE_ALL

// A user32 function of a newer Windows than 7, or null where the system lacks it.
template <typename Function> Function* NewerUser32Function(const char* name) {
    return reinterpret_cast<Function*>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("user32.dll"), name)));
}

// The banners drawn by the art script, by DPI.
struct BannerPicture {
    UINT dpi;
    int resource;
};
constexpr BannerPicture kBanners[] = {{96, IDB_BANNER},
                                      {120, IDB_BANNER_125},
                                      {144, IDB_BANNER_150},
                                      {168, IDB_BANNER_175},
                                      {192, IDB_BANNER_200}};

HBITMAP LoadBitmapResource(HINSTANCE instance, int resource) {
    return static_cast<HBITMAP>(::LoadImageA(instance, MAKEINTRESOURCEA(resource), IMAGE_BITMAP, 0,
                                             0, LR_CREATEDIBSECTION));
}

// The picture scaled to width x height with halftone filtering (each pixel averaged from the
// pixels it covers), not by dropping or repeating pixels.
HBITMAP ScaledCopy(HBITMAP source, int width, int height) {
    BITMAP size{};
    ::GetObjectA(source, sizeof(size), &size);
    HDC screen = ::GetDC(nullptr);
    HDC from = ::CreateCompatibleDC(screen);
    HDC to = ::CreateCompatibleDC(screen);
    HBITMAP scaled = ::CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ savedFrom = ::SelectObject(from, source);
    HGDIOBJ savedTo = ::SelectObject(to, scaled);
    ::SetStretchBltMode(to, HALFTONE);
    ::SetBrushOrgEx(to, 0, 0, nullptr);
    ::StretchBlt(to, 0, 0, width, height, from, 0, 0, size.bmWidth, size.bmHeight, SRCCOPY);
    ::SelectObject(from, savedFrom);
    ::SelectObject(to, savedTo);
    ::DeleteDC(from);
    ::DeleteDC(to);
    ::ReleaseDC(nullptr, screen);
    return scaled;
}

// Reads the parts of an extended dialog template (DLGTEMPLATEEX) that the layout needs: the
// dialog's size, its font, and each control's rectangle in dialog units, in template order.
struct TemplateLayout {
    SIZE size{};
    int points = 0;
    LOGFONTW font{};
    std::vector<RECT> controls; // left, top, width, height
};

class TemplateReader {
  public:
    TemplateReader(const BYTE* data, size_t size) : m_data(data), m_size(size) {}
    bool Ok() const { return m_ok; }
    WORD Word() { return Read<WORD>(); }
    DWORD Dword() { return Read<DWORD>(); }
    short Short() { return Read<short>(); }
    BYTE Byte() { return Read<BYTE>(); }
    // A name or an ordinal (0xFFFF and a number), or nothing (0).
    void SkipNameOrOrdinal() {
        const WORD first = Word();
        if (first == 0xFFFF)
            Word();
        else if (first != 0)
            Text();
    }
    std::wstring Text() {
        std::wstring text;
        for (WORD c = Word(); m_ok && c != 0; c = Word())
            text += static_cast<wchar_t>(c);
        return text;
    }
    void Skip(size_t bytes) {
        if (bytes > m_size - m_at) {
            m_ok = false;
            m_at = m_size;
        } else {
            m_at += bytes;
        }
    }
    void AlignToDword() { Skip((4 - m_at % 4) % 4); }

  private:
    template <typename T> T Read() {
        T value{};
        if (m_size - m_at < sizeof(T)) {
            m_ok = false;
            return value;
        }
        ::CopyMemory(&value, m_data + m_at, sizeof(T));
        m_at += sizeof(T);
        return value;
    }
    const BYTE* m_data;
    size_t m_size;
    size_t m_at = 0;
    bool m_ok = true;
};

bool ReadTemplate(HINSTANCE instance, int templateId, TemplateLayout& layout) {
    HRSRC resource = ::FindResourceA(instance, MAKEINTRESOURCEA(templateId), RT_DIALOG);
    HGLOBAL loaded = resource ? ::LoadResource(instance, resource) : nullptr;
    const auto* data = loaded ? static_cast<const BYTE*>(::LockResource(loaded)) : nullptr;
    if (!data)
        return false;
    TemplateReader reader(data, ::SizeofResource(instance, resource));
    const WORD version = reader.Word();
    const WORD signature = reader.Word();
    reader.Skip(2 * sizeof(DWORD)); // help ID, extended style
    const DWORD style = reader.Dword();
    const WORD count = reader.Word();
    reader.Skip(2 * sizeof(short)); // x, y
    layout.size.cx = reader.Short();
    layout.size.cy = reader.Short();
    reader.SkipNameOrOrdinal(); // menu
    reader.SkipNameOrOrdinal(); // window class
    reader.Text();              // caption
    if (version != 1 || signature != 0xFFFF || !(style & DS_SETFONT) || !reader.Ok())
        return false;
    layout.points = reader.Word();
    layout.font.lfWeight = reader.Word();
    layout.font.lfItalic = reader.Byte();
    layout.font.lfCharSet = reader.Byte();
    const std::wstring face = reader.Text();
    lstrcpynW(layout.font.lfFaceName, face.c_str(), LF_FACESIZE);
    for (WORD i = 0; i < count && reader.Ok(); ++i) {
        reader.AlignToDword();
        reader.Skip(3 * sizeof(DWORD)); // help ID, extended style, style
        RECT rect{};
        rect.left = reader.Short();
        rect.top = reader.Short();
        rect.right = reader.Short();
        rect.bottom = reader.Short();
        reader.Dword();             // ID
        reader.SkipNameOrOrdinal(); // class
        reader.SkipNameOrOrdinal(); // text or image
        reader.Skip(reader.Word()); // creation data
        layout.controls.push_back(rect);
    }
    return reader.Ok() && layout.points > 0;
}

// The dialog base units of the template font at 96 DPI, as the dialog manager measures them:
// the average width of the Latin letters and the font's height.
SIZE BaseUnitsAt96Dpi(const TemplateLayout& layout) {
    LOGFONTW font = layout.font;
    font.lfHeight = -::MulDiv(layout.points, static_cast<int>(kBaseDpi), 72);
    HFONT handle = ::CreateFontIndirectW(&font);
    HDC dc = ::CreateCompatibleDC(nullptr);
    HGDIOBJ saved = ::SelectObject(dc, handle);
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    SIZE letters{};
    ::GetTextExtentPoint32W(dc, L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52,
                            &letters);
    ::SelectObject(dc, saved);
    ::DeleteDC(dc);
    ::DeleteObject(handle);
    return {(letters.cx / 26 + 1) / 2, metrics.tmHeight};
}

bool IsBitmapStatic(HWND control) {
    char className[16] = {};
    ::GetClassNameA(control, className, sizeof(className));
    return lstrcmpiA(className, "Static") == 0 &&
           (::GetWindowLongA(control, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP;
}

} // namespace

UINT WindowDpi(HWND window) {
    if (auto* dpiForWindow = NewerUser32Function<UINT WINAPI(HWND)>("GetDpiForWindow"))
        if (const UINT dpi = dpiForWindow(window))
            return dpi;
    HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : kBaseDpi;
}

HBITMAP LoadBanner(HINSTANCE instance, UINT dpi) {
    for (const BannerPicture& banner : kBanners)
        if (banner.dpi == dpi)
            return LoadBitmapResource(instance, banner.resource);
    const BannerPicture& largest = kBanners[std::size(kBanners) - 1];
    HBITMAP master = LoadBitmapResource(instance, largest.resource);
    if (!master)
        return nullptr;
    BITMAP size{};
    ::GetObjectA(master, sizeof(size), &size);
    const int width = ::MulDiv(size.bmWidth, static_cast<int>(dpi), static_cast<int>(largest.dpi));
    const int height =
        ::MulDiv(size.bmHeight, static_cast<int>(dpi), static_cast<int>(largest.dpi));
    HBITMAP scaled = ScaledCopy(master, width, height);
    ::DeleteObject(master);
    return scaled;
}

ScaledLayout::~ScaledLayout() {
    if (m_scaledFont)
        ::DeleteObject(m_scaledFont);
    if (m_banner)
        ::DeleteObject(m_banner);
}

bool ScaledLayout::Record(HWND dialog, int templateId) {
    m_dialog = dialog;
    TemplateLayout layout;
    if (!ReadTemplate(reinterpret_cast<HINSTANCE>(::GetWindowLongPtrA(dialog, GWLP_HINSTANCE)),
                      templateId, layout))
        return false;
    const SIZE base = BaseUnitsAt96Dpi(layout);
    const auto x = [&](int units) { return ::MulDiv(units, base.cx, 4); };
    const auto y = [&](int units) { return ::MulDiv(units, base.cy, 8); };
    m_client = {x(layout.size.cx), y(layout.size.cy)};
    m_controls.clear();
    size_t index = 0;
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child && index < layout.controls.size();
         child = ::GetWindow(child, GW_HWNDNEXT), ++index) {
        // Widths and heights are converted on their own, as the dialog manager does.
        const RECT& units = layout.controls[index];
        const int left = x(units.left);
        const int top = y(units.top);
        m_controls.push_back({child, {left, top, left + x(units.right), top + y(units.bottom)}});
        if (IsBitmapStatic(child))
            m_bannerControl = child;
    }
    m_font = layout.font;
    m_fontPoints = layout.points;
    // The layout follows the scale here; the dialog manager of Windows 10 version 1703 and
    // later would otherwise scale the window a second time.
    using DialogDpiChangeBehavior = BOOL WINAPI(HWND, UINT, UINT);
    if (auto* behavior = NewerUser32Function<DialogDpiChangeBehavior>("SetDialogDpiChangeBehavior"))
        behavior(dialog, kDialogDpiChangeDisableAll, kDialogDpiChangeDisableAll);
    return true;
}

void ScaledLayout::Apply(UINT dpi, const RECT& suggested) {
    if (m_fontPoints == 0)
        return;
    // The template font at its size in points for this DPI, as the dialog manager makes it.
    LOGFONTW scaled = m_font;
    scaled.lfHeight = -::MulDiv(m_fontPoints, static_cast<int>(dpi), 72);
    HFONT font = ::CreateFontIndirectW(&scaled);

    ResizeWindow(dpi, suggested);
    HDWP positions = ::BeginDeferWindowPos(static_cast<int>(m_controls.size()));
    for (const Control& control : m_controls) {
        ::SendMessageA(control.window, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        const RECT& r = control.rect;
        if (positions)
            positions = ::DeferWindowPos(
                positions, control.window, nullptr, Scale(r.left, dpi), Scale(r.top, dpi),
                Scale(r.right, dpi) - Scale(r.left, dpi), Scale(r.bottom, dpi) - Scale(r.top, dpi),
                SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (positions)
        ::EndDeferWindowPos(positions);

    if (m_scaledFont)
        ::DeleteObject(m_scaledFont);
    m_scaledFont = font;
    ShowBanner(dpi);
    ::RedrawWindow(m_dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void ScaledLayout::ResizeWindow(UINT dpi, const RECT& suggested) {
    const SIZE wanted{Scale(m_client.cx, dpi), Scale(m_client.cy, dpi)};
    const DWORD style = static_cast<DWORD>(::GetWindowLongA(m_dialog, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(::GetWindowLongA(m_dialog, GWL_EXSTYLE));
    RECT frame{0, 0, wanted.cx, wanted.cy};
    using AdjustForDpi = BOOL WINAPI(RECT*, DWORD, BOOL, DWORD, UINT);
    if (auto* adjust = NewerUser32Function<AdjustForDpi>("AdjustWindowRectExForDpi"))
        adjust(&frame, style, FALSE, exStyle, dpi);
    else
        ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    ::SetWindowPos(m_dialog, nullptr, (suggested.left + suggested.right - width) / 2,
                   (suggested.top + suggested.bottom - height) / 2, width, height,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    // The frame the system actually gives (a caption of another height) is made up for once.
    RECT client{};
    ::GetClientRect(m_dialog, &client);
    if (client.right != wanted.cx || client.bottom != wanted.cy)
        ::SetWindowPos(m_dialog, nullptr, 0, 0, width + wanted.cx - client.right,
                       height + wanted.cy - client.bottom,
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void ScaledLayout::ShowBanner(UINT dpi) {
    if (!m_bannerControl)
        return;
    HBITMAP banner =
        LoadBanner(reinterpret_cast<HINSTANCE>(::GetWindowLongPtrA(m_dialog, GWLP_HINSTANCE)), dpi);
    if (!banner)
        return;
    // The static takes the bitmap's size. It keeps the bitmap it is given, or a copy of its own
    // of one with an alpha channel, and never deletes either; the one it gives back (ours, its
    // copy, or the template's) is ours to delete, and so is a bitmap it copied.
    HGDIOBJ previous = reinterpret_cast<HGDIOBJ>(::SendMessageA(
        m_bannerControl, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(banner)));
    if (previous)
        ::DeleteObject(previous);
    auto shown =
        reinterpret_cast<HBITMAP>(::SendMessageA(m_bannerControl, STM_GETIMAGE, IMAGE_BITMAP, 0));
    if (shown != banner)
        ::DeleteObject(banner);
    m_banner = shown;
    ::SetWindowPos(m_bannerControl, nullptr, 0, 0, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
