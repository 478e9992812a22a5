#include "support/ChildTest.h"

#include "support/TempFile.h"

namespace {
const char kReportVariable[] = "ORVANE_CHILD_TEST_REPORT";
constexpr DWORD kChildLimitMs = 30000;
} // namespace

std::string ThisProgram() {
    char path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, length < MAX_PATH ? length : 0);
}

ChildRun RunChildTest(const std::string& filter, const std::string& exe,
                      const std::string& folder) {
    const std::string program = exe.empty() ? ThisProgram() : exe;
    std::string command =
        "\"" + program + "\" --gtest_also_run_disabled_tests --gtest_filter=" + filter;
    TempFile report("", ".txt");
    ::SetEnvironmentVariableA(kReportVariable, report.Path().c_str());

    // The child's own output would only clutter this test's.
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE quiet =
        ::CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = quiet;
    startup.hStdError = quiet;
    PROCESS_INFORMATION child{};
    // Under load, Wine now and then fails to map a new process: such a start is tried again.
    BOOL started = FALSE;
    for (int attempt = 0; attempt < 3 && !started; ++attempt) {
        if (attempt > 0)
            ::Sleep(500);
        started =
            ::CreateProcessA(program.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                             folder.empty() ? nullptr : folder.c_str(), &startup, &child);
    }
    ::SetEnvironmentVariableA(kReportVariable, nullptr);
    if (quiet != INVALID_HANDLE_VALUE)
        ::CloseHandle(quiet);

    ChildRun run;
    if (!started)
        return run;
    run.finished = ::WaitForSingleObject(child.hProcess, kChildLimitMs) == WAIT_OBJECT_0;
    if (!run.finished)
        ::TerminateProcess(child.hProcess, 1);
    ::GetExitCodeProcess(child.hProcess, &run.exitCode);
    ::CloseHandle(child.hThread);
    ::CloseHandle(child.hProcess);
    run.report = ReadWholeFile(report.Path());
    return run;
}

bool InChildRun() {
    char path[MAX_PATH];
    return ::GetEnvironmentVariableA(kReportVariable, path, sizeof(path)) > 0;
}

bool WriteChildReport(const std::string& text) {
    char path[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableA(kReportVariable, path, sizeof(path));
    if (length == 0 || length >= sizeof(path))
        return false;
    HANDLE file = ::CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL ok =
        ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    ::CloseHandle(file);
    return ok && written == text.size();
}
