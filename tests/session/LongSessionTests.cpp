// A long session in one window: the real dialog goes through many update cycles against a
// simulated unit, each cycle a refresh of the list and one update that completes, is cancelled,
// fails on a unit that stops reading or hangs up, or is refused by the check. After a completed
// update the dialog ends; the cycle shows it again and goes on, as a user who starts the tool
// again would find it. The process's handle count and memory are taken after every cycle, and
// with 40 cycles or more the last 20 may not need more than the first 20 did.
//
// ORVANE_SESSION_CYCLES sets the number of cycles (default 6, one of each kind);
// scripts/long-session.sh runs 200 and prints the first and last 20 rows.
#include "res/resource.h"
#include "support/DialogHarness.h"
#include "support/FirmwareImage.h"
#include "support/BridgedUnits.h"
#include "support/TempFile.h"
#include "support/UpdateBench.h"

#include <psapi.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>

namespace {

constexpr int kPort = 7;
constexpr size_t kSmallFile = 10340;      // five chunks and a part
constexpr size_t kLargeFile = 160 * 1024; // more than a pseudo-terminal buffers
constexpr int kFailAtFileByte = 5000;     // where the stalled or unplugged unit stops
constexpr DWORD kShortStallLimitMs = 300; // the dialog's seam: a stall fails fast
constexpr DWORD kQuietMs = 50;            // the unit takes nothing for this long
constexpr int kWindow = 20;               // cycles compared at the start and the end
const char kCompleted[] = "Your equipment has been successfully updated";
const char kCancelQuestion[] =
    "Do you want to abort this update?\nWarning: This may result in lost memory.";
const char kWriteError[] = "Error writing data to Master COM port";
const char kOlder[] = "This file version is older than the current firmware";

enum class Cycle { Completed, Cancelled, Stalled, Completed2, HungUp, Refused };
const Cycle kOrder[] = {Cycle::Completed,  Cycle::Cancelled, Cycle::Stalled,
                        Cycle::Completed2, Cycle::HungUp,    Cycle::Refused};

const char* Name(Cycle cycle) {
    switch (cycle) {
    case Cycle::Completed:
    case Cycle::Completed2:
        return "completed";
    case Cycle::Cancelled:
        return "cancelled";
    case Cycle::Stalled:
        return "stalled";
    case Cycle::HungUp:
        return "hung-up";
    case Cycle::Refused:
        return "refused";
    }
    return "";
}

// What the process holds. Wine answers GetProcessHandleCount and PrivateUsage with 0, so the
// handles are also counted by asking each handle value in turn, and the private memory by
// adding up the committed private regions of the address space; both work on Windows too.
// Only counts are kept per cycle, so that the record itself does not grow the process.
struct Sample {
    DWORD handlesReported = 0; // GetProcessHandleCount
    size_t handles = 0;        // open handle values
    SIZE_T privateUsage = 0;   // GetProcessMemoryInfo
    SIZE_T committedPrivate = 0;
};

using HandleTypes = std::map<ULONG_PTR, std::string>; // each open handle value and its type

// The type of the object a handle names ("Event", "File"...), from the system.
std::string HandleType(HANDLE handle) {
    using QueryObject = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    static const auto query = reinterpret_cast<QueryObject>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "NtQueryObject")));
    constexpr int kObjectTypeInformation = 2;
    alignas(8) unsigned char buffer[1024] = {};
    ULONG length = 0;
    if (!query || query(handle, kObjectTypeInformation, buffer, sizeof(buffer), &length) < 0)
        return "?";
    const auto* name = reinterpret_cast<const UNICODE_STRING*>(buffer);
    std::string text;
    for (USHORT i = 0; i < name->Length / sizeof(WCHAR); ++i)
        text += static_cast<char>(name->Buffer[i]);
    return text;
}

HandleTypes OpenHandles() {
    constexpr ULONG_PTR kHighestValue = 4 * 65536;
    HandleTypes open;
    for (ULONG_PTR value = 4; value <= kHighestValue; value += 4) {
        DWORD flags = 0;
        const HANDLE handle = reinterpret_cast<HANDLE>(value);
        if (::GetHandleInformation(handle, &flags))
            open[value] = HandleType(handle);
    }
    return open;
}

// The handles of now that were not open then, with their types.
std::string NewHandles(const HandleTypes& then, const HandleTypes& now) {
    std::string list;
    for (const auto& [value, type] : now)
        if (then.count(value) == 0 || then.at(value) != type)
            list +=
                " 0x" +
                [](ULONG_PTR v) {
                    char text[32];
                    std::snprintf(text, sizeof(text), "%llx", static_cast<unsigned long long>(v));
                    return std::string(text);
                }(value) +
                " " + type;
    return list;
}

SIZE_T CommittedPrivateBytes() {
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION region{};
    for (const char* address = nullptr;
         ::VirtualQuery(address, &region, sizeof(region)) == sizeof(region);
         address = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            total += region.RegionSize;
    }
    return total;
}

Sample Measure(const HandleTypes& handles) {
    Sample sample;
    ::GetProcessHandleCount(::GetCurrentProcess(), &sample.handlesReported);
    sample.handles = handles.size();
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof(counters);
    if (::GetProcessMemoryInfo(::GetCurrentProcess(),
                               reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                               sizeof(counters)))
        sample.privateUsage = counters.PrivateUsage;
    sample.committedPrivate = CommittedPrivateBytes();
    return sample;
}

int CyclesAsked() {
    char text[16] = {};
    if (::GetEnvironmentVariableA("ORVANE_SESSION_CYCLES", text, sizeof(text)) == 0)
        return static_cast<int>(std::size(kOrder));
    return std::max(1, std::atoi(text));
}

class LongSession : public BridgedUnits {
  protected:
    LongSession() : m_cycles(CyclesAsked()), m_watchdog(60000 + m_cycles * 10000) {}

    void SetUp() override {
        BridgedUnits::SetUp();
        MapSerial("LS7", "COM7");
        // Started for an hour, not the default quarter: 200 cycles take about six minutes.
        ASSERT_TRUE(m_units.Start({kPort}, 3600)) << m_units.Error();
        Configure(kPort, "reply=0105");
        if (HasFatalFailure())
            return;
        m_harness = std::make_unique<DialogHarness>(
            "vid=0x10C4 pid=0xEA60 product=\"Orvane Amplifier\" serial=LS7\n");
        m_log = std::make_unique<ControlLog>(Window());
        Dialog().m_writeStallLimitMs = kShortStallLimitMs;
    }
    void TearDown() override {
        m_log.reset();
        m_harness.reset();
    }

    CUpdateUtilityDlg& Dialog() { return m_harness->Dialog(); }
    HWND Window() { return Dialog().m_hWnd; }
    MessageBoxWatcher& Boxes() { return m_harness->Boxes(); }

    // One cycle: the unit's behaviour, a refresh, one press of Update and its outcome.
    void RunCycle(int index, Cycle cycle) {
        SCOPED_TRACE("cycle " + std::to_string(index) + " " + Name(cycle));
        const int stopAt = 4 + 4 + kFailAtFileByte; // "ver\r", "pgm\r", then the file
        std::string behaviour = "reply=0105\nmode=normal";
        if (cycle == Cycle::Stalled)
            behaviour = "reply=0105\nmode=stall\nstall_after=" + std::to_string(stopAt);
        if (cycle == Cycle::HungUp)
            behaviour = "reply=0105\nmode=hangup\nhangup_after=" + std::to_string(stopAt);
        Configure(kPort, behaviour);
        // A unit that stopped reading takes, once it reads again, what the stalled update left
        // in the line (the window keeps that port open until the refresh): not this cycle's.
        do {
            m_units.ClearReceived(kPort);
            ::Sleep(kQuietMs);
        } while (!m_units.Received(kPort).empty());
        Boxes().Clear();
        m_log->Clear(); // the test's own records would grow the process otherwise
        m_log->OnText(nullptr);

        m_harness->Click(IDC_REFRESH_LIST);
        ASSERT_EQ(m_harness->ListEntries(),
                  std::vector<std::string>{"Orvane Amplifier, firmware version 005"});
        ASSERT_TRUE(Boxes().Shown().empty()) << Boxes().Shown().front().text;

        const bool large = cycle == Cycle::Stalled || cycle == Cycle::HungUp;
        const std::string image = FirmwareImage(large ? kLargeFile : kSmallFile, "01",
                                                cycle == Cycle::Refused ? "04" : "06");
        TempFile file(image, ".ace");
        if (cycle == Cycle::Cancelled) {
            m_log->OnText([this](int id, const std::string& text) {
                if (id == IDC_STATUS && text == "2048 of 10340 bytes written (19%)")
                    PostUpdateClick(Window());
            });
            Boxes().QueueAnswer(IDYES);
        }
        m_harness->SetText(IDC_SOURCE_PATH, file.Path());
        m_harness->Click(IDC_UPDATE);

        switch (cycle) {
        case Cycle::Completed:
        case Cycle::Completed2:
            ASSERT_EQ(Boxes().Texts(), std::vector<std::string>{kCompleted});
            EXPECT_FALSE(::IsWindowVisible(Window())) << "the completed update ends the dialog";
            ASSERT_TRUE(m_units.WaitReceived(kPort, 8 + image.size()));
            EXPECT_TRUE(m_units.Received(kPort) == "ver\rpgm\r" + image);
            // The user starts the tool again: the same window, shown once more.
            ::ShowWindow(Window(), SW_SHOW);
            break;
        case Cycle::Cancelled:
            ASSERT_EQ(Boxes().Texts(), std::vector<std::string>{kCancelQuestion});
            ASSERT_TRUE(m_units.WaitReceived(kPort, 8 + 2048));
            EXPECT_TRUE(m_units.Received(kPort) == "ver\rpgm\r" + image.substr(0, 2048));
            break;
        case Cycle::Stalled:
        case Cycle::HungUp:
            ASSERT_EQ(Boxes().Texts(), std::vector<std::string>{kWriteError});
            EXPECT_TRUE(m_units.Received(kPort) ==
                        ("ver\rpgm\r" + image).substr(0, static_cast<size_t>(stopAt)));
            break;
        case Cycle::Refused:
            ASSERT_EQ(Boxes().Texts(), std::vector<std::string>{kOlder});
            EXPECT_EQ(m_units.Received(kPort), "ver\r");
            break;
        }
        EXPECT_TRUE(::IsWindowVisible(Window()));
        EXPECT_FALSE(Dialog().m_transferActive);
        EXPECT_EQ(Dialog().m_hSourceFile, INVALID_HANDLE_VALUE);
    }

    int m_cycles;
    Watchdog m_watchdog;
    std::unique_ptr<DialogHarness> m_harness;
    std::unique_ptr<ControlLog> m_log;
};

TEST_F(LongSession, ManyCyclesInOneWindowNeedNoMoreHandlesOrMemory) {
    std::vector<Sample> samples;
    samples.reserve(static_cast<size_t>(m_cycles)); // no growth of its own during the cycles
    HandleTypes mostHandles;                        // the handles when there were the most so far
    size_t mostCycle = 0;                           // and after which cycle
    std::printf("%5s %-10s %12s %12s %14s %17s\n", "CYCLE", "KIND", "HANDLES", "HANDLE_COUNT",
                "PRIVATE_USAGE", "COMMITTED_PRIVATE");
    for (int index = 0; index < m_cycles; ++index) {
        const Cycle cycle = kOrder[index % std::size(kOrder)];
        RunCycle(index, cycle);
        if (::testing::Test::HasFatalFailure())
            return;
        HandleTypes handles = OpenHandles();
        samples.push_back(Measure(handles));
        const Sample& s = samples.back();
        std::printf("%5d %-10s %12lu %12lu %14llu %17llu\n", index + 1, Name(cycle),
                    static_cast<unsigned long>(s.handles),
                    static_cast<unsigned long>(s.handlesReported),
                    static_cast<unsigned long long>(s.privateUsage),
                    static_cast<unsigned long long>(s.committedPrivate));
        if (samples.size() > 1 && handles.size() > mostHandles.size())
            std::printf("      new since cycle %zu:%s\n", mostCycle,
                        NewHandles(mostHandles, handles).c_str());
        if (handles.size() > mostHandles.size()) {
            mostHandles = std::move(handles);
            mostCycle = samples.size();
        }
        std::fflush(stdout);
    }
    if (m_cycles < 2 * kWindow)
        return;
    const auto most = [&](size_t from, auto field) {
        decltype(field(samples[0])) top = 0;
        for (size_t i = from; i < from + kWindow; ++i)
            top = std::max(top, field(samples[i]));
        return top;
    };
    const size_t last = samples.size() - kWindow;
    const auto handles = [](const Sample& s) { return s.handles; };
    const auto committed = [](const Sample& s) { return s.committedPrivate; };
    std::printf("most in the first %d cycles: %lu handles, %llu committed private bytes\n", kWindow,
                static_cast<unsigned long>(most(0, handles)),
                static_cast<unsigned long long>(most(0, committed)));
    std::printf("most in the last %d cycles:  %lu handles, %llu committed private bytes\n", kWindow,
                static_cast<unsigned long>(most(last, handles)),
                static_cast<unsigned long long>(most(last, committed)));
    EXPECT_LE(most(last, handles), most(0, handles));
    EXPECT_LE(most(last, committed), most(0, committed));
}

} // namespace
