// The window at the display scales owners use: per-monitor aware, laid out for the scale with
// its banner drawn for it, every text inside its control, and the themed common controls; and
// its new layout when it moves to a monitor of another scale.
#include "res/resource.h"
#include "support/ChildTest.h"
#include "support/DialogHarness.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>
#include <vector>

namespace {

// Not declared for the Windows 7 headers the tests build with.
constexpr int kPerMonitorAware = 2; // DPI_AWARENESS_PER_MONITOR_AWARE

template <typename Function> Function* User32Function(const char* name) {
    return reinterpret_cast<Function*>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("user32.dll"), name)));
}

// The awareness the window reports (-1 where the system cannot tell).
int WindowAwareness(HWND window) {
    auto* context = User32Function<HANDLE WINAPI(HWND)>("GetWindowDpiAwarenessContext");
    auto* awareness = User32Function<int WINAPI(HANDLE)>("GetAwarenessFromDpiAwarenessContext");
    return context && awareness ? awareness(context(window)) : -1;
}

// The file of the module whose code runs the control, lower-case. A button or an edit box run
// by comctl32.dll (not user32.dll) is one of Common Controls 6, the themed ones.
std::string ControlModule(HWND control) {
    HMODULE module = nullptr;
    ::GetModuleHandleExA(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<const char*>(::GetWindowLongPtrW(control, GWLP_WNDPROC)), &module);
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(module, path, MAX_PATH);
    std::string lower(path);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

SIZE ClientSize(HWND window) {
    RECT r{};
    ::GetClientRect(window, &r);
    return {r.right, r.bottom};
}

SIZE BitmapSize(HWND bitmapStatic) {
    BITMAP bitmap{};
    auto image =
        reinterpret_cast<HGDIOBJ>(::SendMessageA(bitmapStatic, STM_GETIMAGE, IMAGE_BITMAP, 0));
    ::GetObjectA(image, sizeof(bitmap), &bitmap);
    return {bitmap.bmWidth, bitmap.bmHeight};
}

HWND BannerControl(HWND dialog) {
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
        if ((::GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP)
            return child;
    return nullptr;
}

int FontHeight(HWND control) {
    LOGFONTA font{};
    ::GetObjectA(reinterpret_cast<HFONT>(::SendMessageA(control, WM_GETFONT, 0, 0)), sizeof(font),
                 &font);
    return std::abs(font.lfHeight);
}

// Texts of the window's statics, buttons and the warning that do not fit their control, as
// DrawText lays them out in the control's font: statics and the warning wrapped at words,
// buttons on one line inside their edges.
std::string TextsThatDoNotFit(HWND dialog) {
    std::string overflowing;
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
        char className[32] = {};
        char text[512] = {};
        ::GetClassNameA(child, className, sizeof(className));
        ::GetWindowTextA(child, text, sizeof(text));
        const LONG style = ::GetWindowLongA(child, GWL_STYLE);
        const bool isStatic = lstrcmpiA(className, "Static") == 0;
        const bool isButton = lstrcmpiA(className, "Button") == 0;
        if (!*text || !(isStatic || isButton) || (isStatic && (style & SS_TYPEMASK) == SS_BITMAP))
            continue;
        const bool wrapped = isStatic || (style & BS_TYPEMASK) == BS_OWNERDRAW;
        RECT room{};
        ::GetClientRect(child, &room);
        if (!wrapped)
            ::InflateRect(&room, -::GetSystemMetrics(SM_CXEDGE) * 2,
                          -::GetSystemMetrics(SM_CYEDGE));
        RECT needed{0, 0, room.right - room.left, 0};
        HDC dc = ::GetDC(child);
        HGDIOBJ saved =
            ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageA(child, WM_GETFONT, 0, 0)));
        ::DrawTextA(dc, text, -1, &needed,
                    DT_CALCRECT | (wrapped ? DT_WORDBREAK | DT_EDITCONTROL : DT_SINGLELINE));
        ::SelectObject(dc, saved);
        ::ReleaseDC(child, dc);
        if (needed.right - needed.left > room.right - room.left ||
            needed.bottom - needed.top > room.bottom - room.top)
            overflowing += std::string("[") + text + "] ";
    }
    return overflowing;
}

// What the window shows of the warning, read back from the window's own surface: its pure red
// pixels, the colour at its top left corner (above its first letter) and the dialog's colour
// just right of it.
struct WarningLook {
    int red = 0;
    COLORREF corner = 0;
    COLORREF beside = 0;
};

WarningLook LookAtWarning(HWND dialog, HWND warning) {
    ::RedrawWindow(dialog, nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    RECT place{};
    ::GetWindowRect(warning, &place);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
    const int width = place.right - place.left + 4;
    const int height = place.bottom - place.top;
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC memory = ::CreateCompatibleDC(nullptr);
    HBITMAP canvas = ::CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ saved = ::SelectObject(memory, canvas);
    HDC window = ::GetDC(dialog);
    ::BitBlt(memory, 0, 0, width, height, window, place.left, place.top, SRCCOPY);
    ::ReleaseDC(dialog, window);
    ::GdiFlush();
    const auto* pixels = static_cast<const DWORD*>(bits);
    WarningLook look;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width - 4; ++x)
            look.red += (pixels[y * width + x] & 0xFFFFFF) == 0xFF0000;
    look.corner = pixels[0] & 0xFFFFFF;
    look.beside = pixels[width - 2] & 0xFFFFFF;
    ::SelectObject(memory, saved);
    ::DeleteObject(canvas);
    ::DeleteDC(memory);
    return look;
}

// Run in a child started at the display scale under test; reports what the window measures.
TEST(DISABLED_DisplayScaleChild, MeasureTheWindow) {
    if (!InChildRun())
        GTEST_SKIP() << "run by DisplayScale only";
    DialogHarness harness;
    HWND dialog = harness.Dialog().m_hWnd;
    // Busy: the progress bar and the warning are shown, with "Cancel" on the Update button.
    harness.Dialog().m_transferActive = true;
    harness.Dialog().UpdateControls();
    const WarningLook warning = LookAtWarning(dialog, harness.Control(IDC_WARNING));
    const SIZE client = ClientSize(dialog);
    HWND banner = BannerControl(dialog);
    ASSERT_NE(banner, nullptr);
    const SIZE bannerSize = ClientSize(banner);
    const SIZE picture = BitmapSize(banner);
    std::ostringstream report;
    report << "dpi " << WindowDpi(dialog) << "\nawareness " << WindowAwareness(dialog)
           << "\nclient " << client.cx << " " << client.cy << "\nbanner " << bannerSize.cx << " "
           << bannerSize.cy << "\npicture " << picture.cx << " " << picture.cy << "\nbuttons "
           << ControlModule(harness.Control(IDC_UPDATE)) << "\nprogress "
           << ControlModule(harness.Control(IDC_PROGRESS)) << "\nedit "
           << ControlModule(harness.Control(IDC_SOURCE_PATH)) << "\noverflowing "
           << TextsThatDoNotFit(dialog) << "\nwarning " << warning.red << " " << warning.corner
           << " " << warning.beside << "\n";
    ASSERT_TRUE(WriteChildReport(report.str()));
}

// The system's display scale for the processes started while the object lives, as the
// "Display" setting (Wine: LogPixels) sets it. Wine 8 makes every program per-monitor aware at
// that setting, manifest or not, so there the awareness shows only that the manifest does not
// take it away; on Windows it is the manifest's.
class DisplayScaleSetting {
  public:
    explicit DisplayScaleSetting(DWORD dpi) {
        ::RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, nullptr, 0,
                          KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &m_key, nullptr);
        DWORD size = sizeof(m_saved);
        m_hadValue = ::RegQueryValueExA(m_key, "LogPixels", nullptr, nullptr,
                                        reinterpret_cast<BYTE*>(&m_saved), &size) == ERROR_SUCCESS;
        ::RegSetValueExA(m_key, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi),
                         sizeof(dpi));
    }
    ~DisplayScaleSetting() {
        if (m_hadValue)
            ::RegSetValueExA(m_key, "LogPixels", 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&m_saved), sizeof(m_saved));
        else
            ::RegDeleteValueA(m_key, "LogPixels");
        ::RegCloseKey(m_key);
    }
    DisplayScaleSetting(const DisplayScaleSetting&) = delete;
    DisplayScaleSetting& operator=(const DisplayScaleSetting&) = delete;

  private:
    HKEY m_key = nullptr;
    DWORD m_saved = 0;
    bool m_hadValue = false;
};

// The child's report: each line a name and its values.
using Report = std::map<std::string, std::string>;

Report MeasureAt(DWORD dpi) {
    DisplayScaleSetting scale(dpi);
    const ChildRun child = RunChildTest("DISABLED_DisplayScaleChild.*");
    EXPECT_TRUE(child.finished);
    EXPECT_EQ(child.exitCode, 0u) << "the child's test failed";
    Report report;
    std::istringstream lines(child.report);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t space = line.find(' ');
        if (space != std::string::npos)
            report[line.substr(0, space)] = line.substr(space + 1);
    }
    return report;
}

std::pair<int, int> Pair(const std::string& values) {
    std::pair<int, int> pair{-1, -1};
    std::sscanf(values.c_str(), "%d %d", &pair.first, &pair.second);
    return pair;
}

TEST(DisplayScale, WindowIsLaidOutAndDrawnForEachScale) {
    const Report base = MeasureAt(96);
    ASSERT_EQ(base.at("dpi"), "96") << "the child did not report";
    const auto [baseWidth, baseHeight] = Pair(base.at("client"));
    const double baseShare = Pair(base.at("banner")).first / static_cast<double>(baseWidth);
    std::printf("96 DPI: client %d x %d, banner %s (%.3f of the width)\n", baseWidth, baseHeight,
                base.at("banner").c_str(), baseShare);

    for (const DWORD dpi : {96u, 144u, 192u}) {
        SCOPED_TRACE(std::to_string(dpi) + " DPI");
        const Report report = dpi == 96 ? base : MeasureAt(dpi);
        ASSERT_EQ(report.at("dpi"), std::to_string(dpi)) << "the setting did not reach the child";
        const double scale = dpi / 96.0;
        EXPECT_EQ(report.at("awareness"), std::to_string(kPerMonitorAware));

        const auto [width, height] = Pair(report.at("client"));
        EXPECT_NEAR(width, baseWidth * scale, 4);
        EXPECT_NEAR(height, baseHeight * scale, 4);
        // Drawn for the scale, shown whole, never stretched.
        const auto picture = Pair(report.at("picture"));
        EXPECT_EQ(picture,
                  std::make_pair(static_cast<int>(500 * scale), static_cast<int>(80 * scale)));
        EXPECT_EQ(Pair(report.at("banner")), picture);
        const double share = picture.first / static_cast<double>(width);
        EXPECT_NEAR(share, baseShare, 0.01);
        std::printf("%lu DPI: client %d x %d (%.2f x %.2f), banner %d x %d (%.3f of the width)\n",
                    static_cast<unsigned long>(dpi), width, height,
                    width / static_cast<double>(baseWidth),
                    height / static_cast<double>(baseHeight), picture.first, picture.second, share);

        // The buttons and the edit box come from the library of the progress bar, comctl32.
        EXPECT_NE(report.at("progress").find("comctl32.dll"), std::string::npos)
            << report.at("progress");
        EXPECT_EQ(report.at("buttons"), report.at("progress"));
        EXPECT_EQ(report.at("edit"), report.at("progress"));
        EXPECT_EQ(report.at("overflowing"), "");
        // The warning is red, on the dialog's own background.
        int red = 0;
        unsigned long corner = 1;
        unsigned long beside = 2;
        std::sscanf(report.at("warning").c_str(), "%d %lu %lu", &red, &corner, &beside);
        EXPECT_GT(red, 100);
        EXPECT_EQ(corner, beside);
        std::printf("  warning: %d red pixels, corner %06lx, beside %06lx\n", red, corner, beside);
    }
}

// The window moving to a monitor of another scale, and back.
TEST(DisplayScale, MoveToAnotherScaleLaysTheWindowOutAgain) {
    DialogHarness harness;
    HWND dialog = harness.Dialog().m_hWnd;
    ASSERT_EQ(WindowDpi(dialog), 96u) << "the tests run at 100 %";
    HWND banner = BannerControl(dialog);
    HWND update = harness.Control(IDC_UPDATE);
    const SIZE client = ClientSize(dialog);
    ASSERT_EQ(FontHeight(update), 11) << "the template's 8 points at 96 DPI";
    RECT button{};
    ::GetWindowRect(update, &button);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&button), 2);

    for (const UINT dpi : {144u, 192u, 120u, 168u, 96u}) {
        SCOPED_TRACE(std::to_string(dpi) + " DPI");
        RECT suggested{};
        ::GetWindowRect(dialog, &suggested);
        ::SendMessageA(dialog, WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                       reinterpret_cast<LPARAM>(&suggested));

        const auto scaled = [dpi](int value) { return ::MulDiv(value, static_cast<int>(dpi), 96); };
        const SIZE now = ClientSize(dialog);
        EXPECT_NEAR(now.cx, scaled(client.cx), 1);
        EXPECT_NEAR(now.cy, scaled(client.cy), 1);
        // The template's font at its size in points for the DPI.
        EXPECT_EQ(FontHeight(update), ::MulDiv(8, static_cast<int>(dpi), 72));
        RECT moved{};
        ::GetWindowRect(update, &moved);
        ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&moved), 2);
        EXPECT_EQ(moved.left, scaled(button.left));
        EXPECT_EQ(moved.top, scaled(button.top));
        EXPECT_EQ(moved.right, scaled(button.right));
        EXPECT_EQ(moved.bottom, scaled(button.bottom));
        const SIZE picture = BitmapSize(banner);
        EXPECT_EQ(picture.cx, scaled(500));
        EXPECT_EQ(picture.cy, scaled(80));
        const SIZE shown = ClientSize(banner);
        EXPECT_EQ(shown.cx, picture.cx);
        EXPECT_EQ(shown.cy, picture.cy);
        EXPECT_EQ(TextsThatDoNotFit(dialog), "");
    }
}

// Records every bitmap given to the control it subclasses.
LRESULT CALLBACK RecordGivenBitmaps(HWND control, UINT message, WPARAM wParam, LPARAM lParam,
                                    UINT_PTR, DWORD_PTR given) {
    if (message == STM_SETIMAGE && wParam == IMAGE_BITMAP && lParam)
        reinterpret_cast<std::vector<HGDIOBJ>*>(given)->push_back(
            reinterpret_cast<HGDIOBJ>(lParam));
    return ::DefSubclassProc(control, message, wParam, lParam);
}

// The bitmap static keeps a copy of its own of a banner with an alpha channel: the banner given
// is deleted at once, and the copy when the next banner replaces it.
TEST(DisplayScale, BannerTheControlCopiedLeavesNoBitmapBehind) {
    char program[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, program, sizeof(program));
    std::string pictures = program;
    pictures.replace(pictures.find_last_of('\\') + 1, std::string::npos, "alpha_banners.dll");
    HMODULE alphaBanners = ::LoadLibraryExA(pictures.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(alphaBanners, nullptr) << pictures;
    DialogHarness harness;
    HWND dialog = harness.Dialog().m_hWnd;
    HWND banner = BannerControl(dialog);
    // The window takes its banners from the module of alpha pictures.
    const LONG_PTR ownModule =
        ::SetWindowLongPtrA(dialog, GWLP_HINSTANCE, reinterpret_cast<LONG_PTR>(alphaBanners));
    std::vector<HGDIOBJ> given;
    ::SetWindowSubclass(banner, RecordGivenBitmaps, 0, reinterpret_cast<DWORD_PTR>(&given));

    std::vector<HGDIOBJ> shownBefore;
    for (const UINT dpi : {144u, 96u, 144u, 96u}) {
        SCOPED_TRACE(std::to_string(dpi) + " DPI");
        RECT suggested{};
        ::GetWindowRect(dialog, &suggested);
        ::SendMessageA(dialog, WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                       reinterpret_cast<LPARAM>(&suggested));
        auto shown =
            reinterpret_cast<HGDIOBJ>(::SendMessageA(banner, STM_GETIMAGE, IMAGE_BITMAP, 0));
        ASSERT_FALSE(given.empty());
        ASSERT_NE(shown, given.back()) << "the control keeps a copy";
        EXPECT_EQ(::GetObjectType(shown), static_cast<DWORD>(OBJ_BITMAP));
        EXPECT_EQ(BitmapSize(banner).cx, dpi == 96 ? 10 : 15);
        for (HGDIOBJ bitmap : given)
            EXPECT_EQ(::GetObjectType(bitmap), 0u) << "a banner given is left";
        for (HGDIOBJ bitmap : shownBefore)
            EXPECT_EQ(::GetObjectType(bitmap), 0u) << "a copy shown before is left";
        shownBefore.push_back(shown);
    }
    ::RemoveWindowSubclass(banner, RecordGivenBitmaps, 0);
    ::SetWindowLongPtrA(dialog, GWLP_HINSTANCE, ownModule);
    ::FreeLibrary(alphaBanners);
}

// A scale without a picture of its own gets the largest one scaled to its size.
TEST(DisplayScale, BannerAtOtherScalesIsTheLargestScaledToSize) {
    const struct {
        UINT dpi;
        SIZE size;
    } cases[] = {{96, {500, 80}},
                 {120, {625, 100}},
                 {192, {1000, 160}},
                 {110, {573, 92}},
                 {240, {1250, 200}}};
    for (const auto& c : cases) {
        HBITMAP banner = LoadBanner(::GetModuleHandleA(nullptr), c.dpi);
        ASSERT_NE(banner, nullptr) << c.dpi;
        BITMAP size{};
        ::GetObjectA(banner, sizeof(size), &size);
        EXPECT_EQ(size.bmWidth, c.size.cx) << c.dpi;
        EXPECT_EQ(size.bmHeight, c.size.cy) << c.dpi;
        ::DeleteObject(banner);
    }
}

// The icon holds an image for each size Windows asks for from 100 % to 200 % and in Explorer,
// and each loads at its size.
TEST(DisplayScale, IconHasAnImageForEverySize) {
    HMODULE program = ::GetModuleHandleA(nullptr);
    HRSRC group = ::FindResourceA(program, MAKEINTRESOURCEA(IDR_MAINFRAME), RT_GROUP_ICON);
    ASSERT_NE(group, nullptr);
    // The group's directory: three words, then one 14-byte entry per image (width first, 0 for
    // 256).
    const auto* directory =
        static_cast<const BYTE*>(::LockResource(::LoadResource(program, group)));
    const int count = directory[4] | directory[5] << 8;
    std::vector<int> sizes;
    for (int i = 0; i < count; ++i)
        sizes.push_back(directory[6 + 14 * i] ? directory[6 + 14 * i] : 256);
    const std::vector<int> expected{16, 20, 24, 32, 40, 48, 64, 256};
    EXPECT_EQ(sizes, expected);

    for (const int size : expected) {
        auto icon = static_cast<HICON>(::LoadImageA(program, MAKEINTRESOURCEA(IDR_MAINFRAME),
                                                    IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
        ASSERT_NE(icon, nullptr) << size;
        ICONINFO info{};
        ASSERT_TRUE(::GetIconInfo(icon, &info)) << size;
        BITMAP colour{};
        ::GetObjectA(info.hbmColor, sizeof(colour), &colour);
        EXPECT_EQ(colour.bmWidth, size);
        EXPECT_EQ(colour.bmHeight, size);
        ::DeleteObject(info.hbmColor);
        ::DeleteObject(info.hbmMask);
        ::DestroyIcon(icon);
    }
}

} // namespace
