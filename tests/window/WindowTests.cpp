// The update dialog's state, data exchange, presentation and error reporting, on the real
// dialog.
#include "res/resource.h"
#include "support/DialogHarness.h"

#include <gtest/gtest.h>

namespace {

const char kWelcome[] = "Welcome to the Orvane Update Utility.  Below, you should see a list of "
                        "connected Orvane equipment, along with the version of the installed "
                        "firmware.  ";
const char kInstructions[] =
    "If you have been given a firmware update file, enter its location in the box below.  Click "
    "\"Update\" to reprogram your equipment.  This utility will exit automatically after the "
    "update is complete.";

TEST(DialogState, ConstructionGivesTheFixedSettingsAndAnEmptyTable) {
    CUpdateUtilityDlg dialog;
    EXPECT_EQ(dialog.m_selectedPort, 1);
    EXPECT_EQ(dialog.m_hardwareFlowControl, 1);
    EXPECT_EQ(dialog.m_chunkSize, 2048u);
    EXPECT_EQ(dialog.m_baudRate, 460800u);
    EXPECT_EQ(dialog.m_savedDcb.DCBlength, 0u);
    EXPECT_FALSE(dialog.m_portOpen);
    EXPECT_FALSE(dialog.m_transferActive);
    EXPECT_FALSE(dialog.m_cancelRequested);
    EXPECT_EQ(dialog.m_deviceCount, 0u);
    EXPECT_TRUE(dialog.m_sourcePath.IsEmpty());
    EXPECT_TRUE(dialog.m_progressText.IsEmpty());
    EXPECT_NE(dialog.m_hIcon, nullptr);
    EXPECT_STREQ(dialog.m_welcomeText, kWelcome);
    EXPECT_STREQ(dialog.m_instructionsText, kInstructions);
    for (int port = 0; port < kEquipmentSlots; ++port) {
        EXPECT_EQ(dialog.m_portDeviceId[port], -1) << port;
        EXPECT_EQ(dialog.m_portFirmwareVersion[port], -1) << port;
        EXPECT_TRUE(dialog.m_portFirmwareText[port].IsEmpty()) << port;
    }
}

TEST(DialogState, FirstPresentationIsIdleWithTheTextsInPlace) {
    DialogHarness harness;
    EXPECT_EQ(harness.Text(IDC_STATUS), "");
    EXPECT_EQ(harness.Text(IDC_WELCOME), kWelcome);
    EXPECT_EQ(harness.Text(IDC_INSTRUCTIONS), kInstructions);
    EXPECT_EQ(harness.Text(IDC_WARNING),
              "This update may take several minutes.  Do not shut off power to your equipment "
              "under any circumstances.  Doing so may render your equipment inoperable.");
    EXPECT_FALSE(harness.Shown(IDC_PROGRESS));
    EXPECT_FALSE(harness.Shown(IDC_WARNING));
    EXPECT_EQ(harness.Dialog().m_hComPort, INVALID_HANDLE_VALUE);
    EXPECT_EQ(harness.Dialog().m_hSourceFile, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(harness.Boxes().Shown().empty());
}

struct Presentation {
    bool busy;
    DWORD deviceCount;
};

class ControlStates : public ::testing::TestWithParam<Presentation> {};

TEST_P(ControlStates, EveryControlFollowsTheBusyFlagAndTheCount) {
    const Presentation state = GetParam();
    DialogHarness harness;
    CUpdateUtilityDlg& dialog = harness.Dialog();
    dialog.m_deviceCount = state.deviceCount;
    dialog.m_transferActive = state.busy;
    dialog.UpdateControls();

    EXPECT_EQ(harness.Enabled(IDC_UPDATE), state.deviceCount != 0);
    EXPECT_EQ(harness.Text(IDC_UPDATE), state.busy ? "Cancel" : "Update");
    for (int id : {IDC_REFRESH_LIST, IDC_EQUIPMENT_LIST, IDC_SOURCE_PATH, IDC_BROWSE, IDCANCEL})
        EXPECT_EQ(harness.Enabled(id), !state.busy) << id;
    EXPECT_EQ(harness.Shown(IDC_PROGRESS), state.busy);
    EXPECT_EQ(harness.Shown(IDC_WARNING), state.busy);
    // The status line and the texts are not part of the presentation.
    EXPECT_EQ(harness.Text(IDC_WELCOME), kWelcome);
    EXPECT_TRUE(harness.Shown(IDC_STATUS));
}

INSTANTIATE_TEST_SUITE_P(IdleAndBusy, ControlStates,
                         ::testing::Values(Presentation{false, 0}, Presentation{false, 2},
                                           Presentation{true, 2}, Presentation{true, 0}),
                         [](const ::testing::TestParamInfo<Presentation>& info) {
                             return std::string(info.param.busy ? "Busy" : "Idle") +
                                    (info.param.deviceCount ? "WithEquipment" : "WithoutEquipment");
                         });

TEST(DataExchange, BothDirectionsReadTheSelectedEntrysPort) {
    DialogHarness harness;
    CUpdateUtilityDlg& dialog = harness.Dialog();
    CComboBox& list = dialog.m_equipmentList;
    list.ResetContent();
    list.SetItemData(list.AddString("Unit on COM5"), 5);
    list.SetItemData(list.AddString("placeholder"), static_cast<DWORD_PTR>(-1));
    list.SetItemData(list.AddString("Unit on COM12"), 12);

    list.SetCurSel(0);
    dialog.UpdateData(FALSE);
    EXPECT_EQ(dialog.m_selectedPort, 5);
    list.SetCurSel(2);
    dialog.UpdateData(TRUE);
    EXPECT_EQ(dialog.m_selectedPort, 12);
    list.SetCurSel(1);
    dialog.UpdateData(FALSE);
    EXPECT_EQ(dialog.m_selectedPort, 255);
    list.SetCurSel(-1);
    dialog.m_selectedPort = 3;
    dialog.UpdateData(TRUE);
    EXPECT_EQ(dialog.m_selectedPort, 255);
}

TEST(DataExchange, PathTravelsBothWaysAndTheBoxIsLimited) {
    DialogHarness harness;
    CUpdateUtilityDlg& dialog = harness.Dialog();
    dialog.m_sourcePath = "C:\\firmware\\amp.ace";
    dialog.UpdateData(FALSE);
    EXPECT_EQ(harness.Text(IDC_SOURCE_PATH), "C:\\firmware\\amp.ace");
    harness.SetText(IDC_SOURCE_PATH, "D:\\other.ace");
    dialog.UpdateData(TRUE);
    EXPECT_STREQ(dialog.m_sourcePath, "D:\\other.ace");
    EXPECT_EQ(::SendMessageA(harness.Control(IDC_SOURCE_PATH), EM_GETLIMITTEXT, 0, 0), 260);
}

// Puts text on the clipboard, as a copy in another program does.
bool CopyToClipboard(const std::string& text) {
    HGLOBAL data = ::GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
    if (!data)
        return false;
    ::CopyMemory(::GlobalLock(data), text.c_str(), text.size() + 1);
    ::GlobalUnlock(data);
    if (!::OpenClipboard(nullptr)) {
        ::GlobalFree(data);
        return false;
    }
    ::EmptyClipboard();
    const bool placed = ::SetClipboardData(CF_TEXT, data) != nullptr;
    ::CloseClipboard();
    return placed;
}

TEST(DataExchange, PathWrappedInQuotesIsTakenWithoutThem) {
    // As Explorer's "Copy as path" gives it. A double quote cannot be part of a Windows file
    // name, so only quotes around the whole path go; any other is left for the open to refuse.
    const std::string path = "C:\\Firmware\\Amplifier v006.ace";
    const std::string longest = "C:\\" + std::string(257, 'a');
    enum class Entry { Pasted, Set };
    const struct {
        Entry entry; // pasted into the empty box, or its text set (typed, or stored)
        std::string text;
        std::string shown; // in the box before the exchange
        std::string taken;
        bool accepted;
    } cases[] = {
        {Entry::Pasted, '"' + path + '"', path, path, true},
        {Entry::Set, '"' + path + '"', '"' + path + '"', path, true},
        {Entry::Pasted, path, path, path, true},
        {Entry::Set, '"' + path, '"' + path, '"' + path, true},
        {Entry::Set, path + '"', path + '"', path + '"', true},
        {Entry::Set, "C:\\Firm\"ware\\a.ace", "C:\\Firm\"ware\\a.ace", "C:\\Firm\"ware\\a.ace",
         true},
        {Entry::Set, "\"\"", "\"\"", "", true},
        {Entry::Set, "\"", "\"", "\"", true},
        // The 260 characters are counted without the quotes; the box takes 260 when pasted.
        {Entry::Pasted, '"' + longest + '"', longest, longest, true},
        {Entry::Set, '"' + longest + '"', '"' + longest + '"', longest, true},
        {Entry::Pasted, longest + "b", longest, longest, true},
        {Entry::Set, '"' + longest + "b\"", '"' + longest + "b\"", longest + "b", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE((c.entry == Entry::Pasted ? "pasted " : "set ") +
                     (c.text.size() > 40 ? std::to_string(c.text.size()) + " characters" : c.text));
        DialogHarness harness;
        CUpdateUtilityDlg& dialog = harness.Dialog();
        HWND box = harness.Control(IDC_SOURCE_PATH);
        if (c.entry == Entry::Pasted) {
            ASSERT_TRUE(CopyToClipboard(c.text));
            ::SendMessageA(box, WM_PASTE, 0, 0);
        } else {
            harness.SetText(IDC_SOURCE_PATH, c.text);
        }
        EXPECT_EQ(harness.Text(IDC_SOURCE_PATH), c.shown);
        EXPECT_EQ(dialog.UpdateData(TRUE), c.accepted);
        EXPECT_EQ(harness.Boxes().Shown().empty(), c.accepted);
        EXPECT_EQ(dialog.m_sourcePath.Str(), c.taken);
        EXPECT_EQ(harness.Text(IDC_SOURCE_PATH), c.taken);
    }
}

// Puts a path on the clipboard as a copy in Explorer leaves it on a system whose clipboard
// locale uses code page 1252: UTF-16 text, and its 8-bit form in that code page, not the
// program's UTF-8.
bool CopyAsExplorerDoes(const std::wstring& text) {
    std::vector<HGLOBAL> forms;
    const auto form = [&forms](const void* bytes, size_t size) {
        HGLOBAL data = ::GlobalAlloc(GMEM_MOVEABLE, size);
        if (data) {
            ::CopyMemory(::GlobalLock(data), bytes, size);
            ::GlobalUnlock(data);
        }
        forms.push_back(data);
        return data;
    };
    const int size = ::WideCharToMultiByte(1252, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string western(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(1252, 0, text.c_str(), -1, western.data(), size, nullptr, nullptr);
    HGLOBAL wide = form(text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    HGLOBAL narrow = form(western.c_str(), western.size());
    if (!wide || !narrow || !::OpenClipboard(nullptr)) {
        for (HGLOBAL data : forms)
            ::GlobalFree(data);
        return false;
    }
    ::EmptyClipboard();
    const bool placed = ::SetClipboardData(CF_UNICODETEXT, wide) != nullptr &&
                        ::SetClipboardData(CF_TEXT, narrow) != nullptr;
    ::CloseClipboard();
    return placed;
}

TEST(DataExchange, PathPastedFromExplorerKeepsCharactersBeyondAscii) {
    const struct {
        std::wstring copied;
        std::string taken; // UTF-8
    } cases[] = {
        {L"\"C:\\Users\\Zo\u00EB\\Firmware\\amp.ace\"", "C:\\Users\\Zo\xC3\xAB\\Firmware\\amp.ace"},
        {L"C:\\Users\\Zo\u00EB\\amp.ace", "C:\\Users\\Zo\xC3\xAB\\amp.ace"},
        // Not in code page 1252 at all.
        {L"\"D:\\\u56FA\u4EF6\\amp.ace\"", "D:\\\xE5\x9B\xBA\xE4\xBB\xB6\\amp.ace"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.taken);
        DialogHarness harness;
        CUpdateUtilityDlg& dialog = harness.Dialog();
        ASSERT_TRUE(CopyAsExplorerDoes(c.copied));
        ::SendMessageA(harness.Control(IDC_SOURCE_PATH), WM_PASTE, 0, 0);
        EXPECT_EQ(harness.Text(IDC_SOURCE_PATH), c.taken);
        EXPECT_TRUE(dialog.UpdateData(TRUE));
        EXPECT_EQ(dialog.m_sourcePath.Str(), c.taken);
    }
}

TEST(DataExchange, OverLongPathIsRefusedOnEveryPull) {
    DialogHarness harness;
    CUpdateUtilityDlg& dialog = harness.Dialog();
    const std::string longPath(300, 'p');
    dialog.m_sourcePath = longPath.c_str();
    dialog.UpdateData(FALSE); // pushing puts the whole text in, unrefused
    EXPECT_EQ(harness.Text(IDC_SOURCE_PATH), longPath);
    ASSERT_TRUE(harness.Boxes().Shown().empty());

    for (int pull = 0; pull < 2; ++pull) {
        // A refused exchange stops before the selection and the presentation are refreshed.
        dialog.m_selectedPort = 7;
        dialog.m_transferActive = true;
        harness.Boxes().Clear();
        EXPECT_FALSE(dialog.UpdateData(TRUE));
        dialog.m_transferActive = false;

        ASSERT_EQ(harness.Boxes().Shown().size(), 1u);
        EXPECT_NE(harness.Boxes().Shown()[0].text.find("260"), std::string::npos);
        EXPECT_EQ(dialog.m_selectedPort, 7);
        EXPECT_EQ(harness.Text(IDC_UPDATE), "Update");
        EXPECT_EQ(::GetFocus(), harness.Control(IDC_SOURCE_PATH));
        DWORD start = 1;
        DWORD end = 0;
        ::SendMessageA(harness.Control(IDC_SOURCE_PATH), EM_GETSEL,
                       reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
        EXPECT_EQ(start, 0u);
        EXPECT_EQ(end, 300u);
        EXPECT_EQ(dialog.m_sourcePath.GetLength(), 300);
    }
}

TEST(DataExchange, PathLimitCountsCharactersNotBytes) {
    // UTF-16 units, as the box's own limit counts: two for a character beyond U+FFFF.
    const std::string emoji = "\xF0\x9F\x98\x80";
    const struct {
        std::string path;
        bool accepted;
    } cases[] = {
        {"C:\\" + std::string(257, 'a'), true},
        {"C:\\" + std::string(258, 'a'), false},
        {"C:\\" + std::string(127, 'a') +
             [] {
                 std::string cjk;
                 for (int i = 0; i < 130; ++i)
                     cjk += "测";
                 return cjk;
             }(),
         true},
        {"C:\\" + std::string(255, 'a') + emoji, true},
        {"C:\\" + std::string(256, 'a') + emoji, false},
    };
    for (const auto& c : cases) {
        DialogHarness harness;
        harness.Dialog().m_sourcePath = c.path.c_str();
        harness.Dialog().UpdateData(FALSE);
        EXPECT_EQ(harness.Dialog().UpdateData(TRUE), c.accepted) << c.path.size() << " bytes";
        EXPECT_EQ(harness.Boxes().Shown().empty(), c.accepted);
        EXPECT_EQ(harness.Dialog().m_sourcePath.Str(), c.path);
    }
}

TEST(ErrorReporting, MessageStaysInTheStatusLineAfterAnErrorBox) {
    DialogHarness harness;
    harness.Dialog().ReportError("Error opening Source File");
    EXPECT_EQ(harness.Text(IDC_STATUS), "Error opening Source File");
    ASSERT_EQ(harness.Boxes().Shown().size(), 1u);
    const ShownMessageBox& box = harness.Boxes().Shown()[0];
    EXPECT_EQ(box.text, "Error opening Source File");
    EXPECT_EQ(box.caption, "Error");
    EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
    EXPECT_TRUE(box.exclamationIcon);
}

TEST(WaitCursor, HourglassHoldsWhileMessagesArePumped) {
    DialogHarness harness;
    HCURSOR wait = ::LoadCursorA(nullptr, IDC_WAIT);
    harness.Dialog().BeginWaitCursor();
    EXPECT_EQ(::GetCursor(), wait);
    // Whatever asks for a cursor meanwhile (the pointer moving over a control) gets the hourglass.
    ::SetCursor(::LoadCursorA(nullptr, IDC_ARROW));
    ::PostMessageA(harness.Dialog().m_hWnd, WM_SETCURSOR,
                   reinterpret_cast<WPARAM>(harness.Control(IDC_BROWSE)),
                   MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    harness.Dialog().PumpMessages();
    EXPECT_EQ(::GetCursor(), wait);
    harness.Dialog().EndWaitCursor();
    EXPECT_NE(::GetCursor(), wait);
    // Without the hourglass the dialog leaves the cursor to the system.
    EXPECT_EQ(::SendMessageA(harness.Dialog().m_hWnd, WM_SETCURSOR,
                             reinterpret_cast<WPARAM>(harness.Control(IDC_BROWSE)),
                             MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)),
              FALSE);
}

} // namespace
