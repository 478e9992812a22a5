// The main window's behaviour on the real dialog: its first presentation, closing, and the red
// warning control.
#include "SimEquipment.h"
#include "res/resource.h"
#include "support/DialogHarness.h"
#include "support/RegistryKeys.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

// Runs the dialog modally; the script runs on a thread timer inside the modal loop (and inside
// any message pump of the dialog's own) until it returns true. It starts once the window shows:
// the discovery during initialisation pumps messages too. A dialog still open after 20 s is a
// failure and is ended with -1.
INT_PTR RunModal(CUpdateUtilityDlg& dialog, std::function<bool()> script) {
    static std::function<bool()>* s_script = nullptr;
    static CUpdateUtilityDlg* s_dialog = nullptr;
    static ULONGLONG s_deadline = 0;
    s_script = &script;
    s_dialog = &dialog;
    s_deadline = ::GetTickCount64() + 20000;
    AfxGetApp()->m_pMainWnd = &dialog;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR, DWORD) {
        HWND window = s_dialog->m_hWnd;
        if (!window || !::IsWindowVisible(window))
            return;
        if (::GetTickCount64() > s_deadline) {
            ADD_FAILURE() << "the dialog did not end in time";
            s_script = nullptr;
            s_deadline = ~0ULL;
            ::EndDialog(window, -1);
        } else if (s_script && (*s_script)()) {
            s_script = nullptr;
        }
    });
    const INT_PTR result = dialog.DoModal();
    ::KillTimer(nullptr, timer);
    s_script = nullptr;
    AfxGetApp()->m_pMainWnd = nullptr;
    return result;
}

void PressEscape(HWND dialog) {
    ::PostMessageA(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
}

TEST(FirstPresentation, IconIsTheWindowsBigAndSmallIcon) {
    DialogHarness harness;
    HWND window = harness.Dialog().m_hWnd;
    ASSERT_NE(harness.Dialog().m_hIcon, nullptr);
    EXPECT_EQ(::SendMessageA(window, WM_GETICON, ICON_BIG, 0),
              reinterpret_cast<LRESULT>(harness.Dialog().m_hIcon));
    EXPECT_EQ(::SendMessageA(window, WM_GETICON, ICON_SMALL, 0),
              reinterpret_cast<LRESULT>(harness.Dialog().m_hIcon));
}

TEST(FirstPresentation, ModalRunStartsIdleWithTheFocusOnTheEquipmentList) {
    DialogHarness harness("", false);
    CUpdateUtilityDlg& dialog = harness.Dialog();
    HWND focus = nullptr;
    HWND list = nullptr;
    std::string status = "not seen";
    bool progressShown = true;
    bool warningShown = true;
    RECT window{};
    const INT_PTR result = RunModal(dialog, [&] {
        ::GetWindowRect(dialog.m_hWnd, &window);
        focus = ::GetFocus();
        list = harness.Control(IDC_EQUIPMENT_LIST);
        status = harness.Text(IDC_STATUS);
        progressShown = harness.Shown(IDC_PROGRESS);
        warningShown = harness.Shown(IDC_WARNING);
        harness.Click(IDCANCEL);
        return true;
    });
    EXPECT_EQ(result, IDCANCEL);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(focus, list);
    EXPECT_EQ(status, "");
    EXPECT_FALSE(progressShown);
    EXPECT_FALSE(warningShown);
    // Opened in the middle of the work area.
    RECT area{};
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    EXPECT_NEAR(window.left - area.left, area.right - window.right, 1);
    EXPECT_NEAR(window.top - area.top, area.bottom - window.bottom, 1);
}

// A close request when idle: the window's close button (WM_CLOSE) or Escape.
class IdleClosing : public ::testing::TestWithParam<bool> {};

TEST_P(IdleClosing, EndsTheDialogLikeExitWithoutPullingThePath) {
    const bool escape = GetParam();
    DialogHarness harness("", false);
    CUpdateUtilityDlg& dialog = harness.Dialog();
    dialog.m_sourcePath = "C:\\Firmware\\kept.ace";
    const INT_PTR result = RunModal(dialog, [&] {
        harness.SetText(IDC_SOURCE_PATH, "C:\\Firmware\\typed.ace");
        if (escape)
            PressEscape(dialog.m_hWnd);
        else
            ::SendMessageA(dialog.m_hWnd, WM_CLOSE, 0, 0);
        return true;
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_STREQ(dialog.m_sourcePath, "C:\\Firmware\\kept.ace");
    EXPECT_TRUE(harness.Boxes().Shown().empty());
}

INSTANTIATE_TEST_SUITE_P(CloseButtonAndEscape, IdleClosing, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "Escape" : "CloseButton");
                         });

TEST(BusyClosing, CloseAndEscapeAreRefusedAndTheTransferGoesOnToCompletion) {
    RegistryKeys ports;
    ASSERT_TRUE(ports.SetText(
        "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_10c4&Pid_ea60\\B5\\Device Parameters",
        "PortName", "COM5"));
    SimEquipment units;
    ASSERT_TRUE(units.Start({5})) << units.Error();
    // At the line's own pace 40 KB take most of a second: time for the requests to land.
    ASSERT_TRUE(units.Configure(5, "reply=0105\nmode=paced")) << units.Error();
    std::string image(40 * 1024, 'x');
    image.replace(257, 4, "0106");
    TempFile firmware(image, ".ace");

    DialogHarness harness("product=\"Unit\" serial=B5\n", false);
    CUpdateUtilityDlg& dialog = harness.Dialog();
    dialog.m_sourcePath = firmware.Path().c_str();
    int step = 0;
    bool stayedOpen = false;
    // The ticks after the first run inside the transfer's own message pumping.
    const INT_PTR result = RunModal(dialog, [&] {
        HWND window = dialog.m_hWnd;
        if (step == 0) {
            ::PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_UPDATE, BN_CLICKED),
                           reinterpret_cast<LPARAM>(harness.Control(IDC_UPDATE)));
            step = 1;
        } else if (step == 1 && dialog.m_transferActive &&
                   harness.Text(IDC_STATUS).find("bytes written") != std::string::npos) {
            ::SendMessageA(window, WM_CLOSE, 0, 0);
            PressEscape(window); // dispatched before the next tick
            step = 2;
        } else if (step == 2) {
            // Ending the dialog would have hidden it at once.
            stayedOpen = ::IsWindowVisible(window) && dialog.m_transferActive;
            return true;
        }
        return false;
    });
    EXPECT_EQ(step, 2);
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(harness.Boxes().Texts(),
              std::vector<std::string>{"Your equipment has been successfully updated"});
    ASSERT_TRUE(units.WaitReceived(5, 8 + image.size()));
    EXPECT_TRUE(units.Received(5) == "ver\rpgm\r" + image);
}

// A memory canvas, white, with 32-bit pixels to look at.
class Canvas {
  public:
    Canvas(int width, int height) : m_width(width), m_height(height) {
        BITMAPINFO info{};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        m_dc = ::CreateCompatibleDC(nullptr);
        void* bits = nullptr;
        m_bitmap = ::CreateDIBSection(m_dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        m_bits = static_cast<const DWORD*>(bits);
        m_saved = ::SelectObject(m_dc, m_bitmap);
        RECT all{0, 0, width, height};
        ::FillRect(m_dc, &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    }
    ~Canvas() {
        ::SelectObject(m_dc, m_saved);
        ::DeleteObject(m_bitmap);
        ::DeleteDC(m_dc);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC Dc() const { return m_dc; }
    COLORREF Pixel(int x, int y) const {
        ::GdiFlush();
        const DWORD p = m_bits[y * m_width + x];
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }

    struct Ink {
        int red = 0;     // pure red pixels
        int foreign = 0; // neither white nor red blended into white
        int lines = 0;   // bands of rows with ink
        int bottom = -1; // lowest row with ink
    };
    Ink Look() const {
        Ink ink;
        bool previousRow = false;
        for (int y = 0; y < m_height; ++y) {
            bool row = false;
            for (int x = 0; x < m_width; ++x) {
                const COLORREF c = Pixel(x, y);
                if (c == RGB(255, 255, 255))
                    continue;
                row = true;
                if (c == RGB(255, 0, 0))
                    ++ink.red;
                else if (GetRValue(c) != 255 || GetGValue(c) != GetBValue(c))
                    ++ink.foreign;
            }
            if (row) {
                ink.bottom = y;
                if (!previousRow)
                    ++ink.lines;
            }
            previousRow = row;
        }
        return ink;
    }

  private:
    int m_width;
    int m_height;
    HDC m_dc;
    HBITMAP m_bitmap;
    HGDIOBJ m_saved;
    const DWORD* m_bits = nullptr;
};

class WarningControl : public ::testing::Test {
  protected:
    void SetUp() override {
        m_dialog.m_transferActive = true;
        m_dialog.UpdateControls();
        ASSERT_TRUE(m_harness.Shown(IDC_WARNING));
        ::GetClientRect(m_warning, &m_item);
    }
    // Paints the control as the system asks it to, onto a canvas in blue text, the dialog's font.
    Canvas::Ink Render(const RECT& item, int canvasHeight, COLORREF* colourAfter) {
        Canvas canvas(item.right, canvasHeight);
        ::SelectObject(canvas.Dc(),
                       reinterpret_cast<HFONT>(::SendMessageA(m_warning, WM_GETFONT, 0, 0)));
        ::SetBkMode(canvas.Dc(), TRANSPARENT);
        ::SetTextColor(canvas.Dc(), RGB(0, 0, 255));
        DRAWITEMSTRUCT draw{ODT_BUTTON,  IDC_WARNING, 0, ODA_DRAWENTIRE, 0, m_warning,
                            canvas.Dc(), item,        0};
        m_dialog.m_warning.DrawItem(&draw);
        *colourAfter = ::GetTextColor(canvas.Dc());
        return canvas.Look();
    }
    int LineHeight() {
        HDC dc = ::GetDC(m_warning);
        HGDIOBJ saved = ::SelectObject(
            dc, reinterpret_cast<HFONT>(::SendMessageA(m_warning, WM_GETFONT, 0, 0)));
        TEXTMETRICA metrics{};
        ::GetTextMetricsA(dc, &metrics);
        ::SelectObject(dc, saved);
        ::ReleaseDC(m_warning, dc);
        return metrics.tmHeight;
    }

    DialogHarness m_harness;
    CUpdateUtilityDlg& m_dialog = m_harness.Dialog();
    HWND m_warning = m_harness.Control(IDC_WARNING);
    RECT m_item{};
};

TEST_F(WarningControl, BusyWarningIsRedTextWrappedInsideTheItem) {
    COLORREF after = 0;
    const Canvas::Ink ink = Render(m_item, 2 * m_item.bottom, &after);
    EXPECT_GT(ink.red, 100);
    EXPECT_EQ(ink.foreign, 0);
    EXPECT_GE(ink.lines, 2);
    EXPECT_LT(ink.bottom, m_item.bottom);
    EXPECT_EQ(after, RGB(0, 0, 255));
}

TEST_F(WarningControl, LineThatWouldShowOnlyInPartIsNotDrawn) {
    const int line = LineHeight();
    ASSERT_GT(line, 0);
    RECT item = m_item;
    item.bottom = 2 * line + line / 2;
    COLORREF after = 0;
    const Canvas::Ink ink = Render(item, 2 * m_item.bottom, &after);
    EXPECT_EQ(ink.lines, 2);
    EXPECT_LT(ink.bottom, 2 * line);
}

TEST_F(WarningControl, EmptyTextPaintsNothing) {
    ::SetWindowTextA(m_warning, "");
    COLORREF after = 0;
    const Canvas::Ink ink = Render(m_item, m_item.bottom, &after);
    EXPECT_EQ(ink.bottom, -1);
    EXPECT_EQ(after, RGB(0, 0, 255));
}

TEST_F(WarningControl, DialogHandsTheControlsPaintRequestToIt) {
    // The button asks its dialog to draw it (WM_DRAWITEM); the framework passes that on.
    Canvas canvas(m_item.right, m_item.bottom);
    ::SendMessageA(m_warning, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.Dc()), PRF_CLIENT);
    EXPECT_GT(canvas.Look().red, 100);
}

} // namespace
