#pragma once
// The window at the display scale of its monitor. The program is per-monitor DPI aware, so
// Windows does not stretch the window as a bitmap; instead the window is laid out here for the
// DPI it is shown at, when it opens and again when it moves to a monitor of another scale
// (WM_DPICHANGED): the template's layout at 100 % (dialog units through the template font's
// size at 96 DPI) times the scale, the template font at its point size for that DPI, and the
// banner drawn for that scale. The dialog manager's own layout follows the font's rounded
// metrics, which would make the window 6 % shorter at 150 % than 1.5 times its 100 % height.

#include <windows.h>

#include <vector>

// The DPI the window is shown at: its monitor's on Windows 10 version 1607 and later, the
// system's elsewhere. 96 is 100 %.
UINT WindowDpi(HWND window);

// The banner for dpi: the picture drawn for that scale (100, 125, 150, 175 or 200 %), or, at
// any other scale, the 200 % picture scaled with halftone filtering. The caller owns it.
HBITMAP LoadBanner(HINSTANCE instance, UINT dpi);

class ScaledLayout {
  public:
    ScaledLayout() = default;
    ~ScaledLayout();
    ScaledLayout(const ScaledLayout&) = delete;
    ScaledLayout& operator=(const ScaledLayout&) = delete;

    // Reads the layout at 100 % from the dialog's template (templateId in the dialog's module);
    // the template's controls are the dialog's children in the same order. False when the
    // template cannot be read; the dialog then keeps the dialog manager's layout.
    bool Record(HWND dialog, int templateId);
    // Lays the dialog out for dpi: the font and every control, and the window sized so that
    // its client area is the 100 % one scaled, centred where suggested is (the system's choice
    // of place on the new monitor, or the window's own place when it opens).
    void Apply(UINT dpi, const RECT& suggested);

  private:
    // Shows the banner drawn for dpi in the dialog's bitmap static, at the top left.
    void ShowBanner(UINT dpi);
    struct Control {
        HWND window;
        RECT rect; // in the dialog's client coordinates at 96 DPI
    };
    static int Scale(int value, UINT dpi) { return ::MulDiv(value, static_cast<int>(dpi), 96); }
    void ResizeWindow(UINT dpi, const RECT& suggested);

    HWND m_dialog = nullptr;
    SIZE m_client{};      // at 96 DPI
    int m_fontPoints = 0; // the template font's size; 0 until recorded
    LOGFONTW m_font{};    // the template font but for its height
    std::vector<Control> m_controls;
    HWND m_bannerControl = nullptr;
    // The font made here (the dialog manager's font stays with it), and the banner the control
    // shows, made here or copied by the control from one made here.
    HFONT m_scaledFont = nullptr;
    HBITMAP m_banner = nullptr;
};
