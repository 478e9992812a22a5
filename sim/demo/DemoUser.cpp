// The demo's user: starts the tool and, in the scripted mode, performs one complete update the
// way a person would. It talks to the run script through marker files in a folder: it writes
// NAME.ready when there is something to photograph and waits (bounded) for NAME.taken; beside
// it NAME.window holds the tool window's place on the screen ("left top width height").
//
//   orvane-demo-user scripted TOOL_EXE FIRMWARE_PATH MARKER_DIR
//       select the first unit, enter the path, press Update, confirm the completion box;
//       exit code 0 only when the completion box came and the tool ended
//   orvane-demo-user watch TOOL_EXE MARKER_DIR
//       the person at the display works the tool; exit code: the tool's
//
// In both modes MARKER_DIR\shown appears as soon as the main window is visible.
#include "ScriptedUser.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr DWORD kShowLimitMs = 60000;
constexpr DWORD kPhotoLimitMs = 20000;
constexpr DWORD kTransferLimitMs = 120000;
constexpr DWORD kExitLimitMs = 30000;
// Lets the tool paint what it was just told before a photograph is asked for.
constexpr DWORD kSettleMs = 400;

constexpr int kUpdateButton = 1002;
constexpr int kSourcePath = 1005;
constexpr int kStatusLine = 1015;

std::string g_markers;

void Say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

bool Exists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void WriteMarker(const std::string& name, const std::string& text) {
    const std::string path = g_markers + "\\" + name;
    // Written aside and renamed, so the script never reads half a marker.
    HANDLE file = ::CreateFileA((path + ".tmp").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    ::CloseHandle(file);
    ::MoveFileExA((path + ".tmp").c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

// Asks the script for a photograph and waits until it has been taken.
void Photograph(const std::string& name, const std::string& what, HWND window) {
    RECT place{};
    if (window && ::GetWindowRect(window, &place))
        WriteMarker(name + ".window", std::to_string(place.left) + " " + std::to_string(place.top) +
                                          " " + std::to_string(place.right - place.left) + " " +
                                          std::to_string(place.bottom - place.top) + "\n");
    WriteMarker(name + ".ready", what + "\n");
    if (!scripted::WaitUntil(kPhotoLimitMs,
                             [&] { return Exists(g_markers + "\\" + name + ".taken"); }))
        Say("no photograph of " + name + " was taken");
}

// The percentage of a status line "N of M bytes written (P%)", or -1.
int Percent(const std::string& status) {
    const size_t open = status.rfind('(');
    if (open == std::string::npos || status.find("bytes written") == std::string::npos)
        return -1;
    return std::atoi(status.c_str() + open + 1);
}

// Waits for the main window; an error box that comes first is reported, photographed and
// answered.
bool WaitShown(scripted::ToolProcess& tool, scripted::ToolWindow& window, bool answerBoxes) {
    const ULONGLONG end = ::GetTickCount64() + kShowLimitMs;
    while (::GetTickCount64() < end) {
        if (window.Attach(tool.Id(), 20))
            return true;
        if (!tool.Running()) {
            Say("the tool ended before its window showed");
            return false;
        }
        if (!answerBoxes)
            continue;
        const scripted::MessageBoxSeen box = scripted::FindMessageBox(tool.Id());
        if (box.window) {
            Say("message box \"" + box.caption + "\": " + box.text);
            Photograph("0-message", box.caption + ": " + box.text, nullptr);
            scripted::Answer(box.window, IDOK);
            ::Sleep(200);
        }
    }
    Say("the tool's window did not show within " + std::to_string(kShowLimitMs / 1000) + " s");
    return false;
}

int Watch(const std::string& exe) {
    scripted::ToolProcess tool;
    if (!tool.Start(exe)) {
        Say("cannot start " + exe);
        return 1;
    }
    scripted::ToolWindow window;
    if (WaitShown(tool, window, false))
        WriteMarker("shown", "\n");
    tool.WaitExit(INFINITE);
    return static_cast<int>(tool.ExitCode());
}

int Scripted(const std::string& exe, const std::string& firmware) {
    scripted::ToolProcess tool;
    if (!tool.Start(exe)) {
        Say("cannot start " + exe);
        return 1;
    }
    scripted::ToolWindow window;
    if (!WaitShown(tool, window, true))
        return 1;
    WriteMarker("shown", "\n");
    window.Sync();
    ::Sleep(kSettleMs);
    Photograph("1-opened", "the window as it opened", window.Handle());

    const std::vector<std::string> entries = window.Entries();
    for (size_t i = 0; i < entries.size(); ++i)
        Say("equipment list entry " + std::to_string(i + 1) + ": " + entries[i]);
    if (entries.empty()) {
        Say("the equipment list is empty");
        return 1;
    }
    window.Select(0);
    window.SetText(kSourcePath, firmware);
    window.Sync();
    ::Sleep(kSettleMs);
    Photograph("2-ready", "first unit selected, firmware path entered", window.Handle());

    Say("pressing Update");
    window.Press(kUpdateButton);
    bool during = false;
    scripted::MessageBoxSeen box;
    const bool ended = scripted::WaitUntil(kTransferLimitMs, [&] {
        box = scripted::FindMessageBox(tool.Id());
        if (box.window || !tool.Running())
            return true;
        const std::string status = window.Text(kStatusLine);
        const int percent = Percent(status);
        if (!during && percent >= 25) {
            during = true;
            Say("during the transfer: " + status);
            Photograph("3-during", status, window.Handle());
        }
        return false;
    });
    if (!ended || !box.window) {
        Say(ended ? "the tool ended without a completion box"
                  : "no completion box within " + std::to_string(kTransferLimitMs / 1000) + " s");
        return 1;
    }
    Say("message box \"" + box.caption + "\": " + box.text);
    ::Sleep(kSettleMs);
    const bool completed = box.caption == "Transfer Complete";
    Photograph(completed ? "4-complete" : "4-error", box.caption + ": " + box.text,
               window.Handle());
    scripted::Answer(box.window, IDOK);
    if (!completed) {
        // The dialog stays after an error; leave it as a user would.
        ::Sleep(200);
        window.Press(IDCANCEL);
    }
    if (!tool.WaitExit(kExitLimitMs)) {
        Say("the tool did not end within " + std::to_string(kExitLimitMs / 1000) + " s");
        return 1;
    }
    Say("the tool ended with exit code " + std::to_string(tool.ExitCode()));
    return completed && during ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    // Places on the screen in pixels at any display scale, as the tool (DPI aware) has them.
    ::SetProcessDPIAware();
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "scripted" && argc == 5) {
        g_markers = argv[4];
        return Scripted(argv[2], argv[3]);
    }
    if (mode == "watch" && argc == 4) {
        g_markers = argv[3];
        return Watch(argv[2]);
    }
    std::fprintf(stderr, "usage: orvane-demo-user scripted TOOL_EXE FIRMWARE_PATH MARKER_DIR\n"
                         "       orvane-demo-user watch TOOL_EXE MARKER_DIR\n");
    return 2;
}
