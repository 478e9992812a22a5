#include "cli/ConsoleProgram.h"

#include "support/ChildTest.h"

namespace {
HANDLE InheritableFile(const std::string& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    return ::CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                         disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}
} // namespace

std::string ConsoleProgram::BesideTests() {
    std::string program = ThisProgram();
    program.erase(program.find_last_of('\\') + 1);
    return program + "orvane-update.exe";
}

ConsoleProgram::~ConsoleProgram() {
    Finish(0);
}

bool ConsoleProgram::Start(const std::string& arguments, bool ownGroup, const std::string& exe) {
    // The child shares this process's console. Wine gives a program started without a terminal
    // a console that carries no control events, so a real one (with a window) is made first.
    if (ownGroup && !::GetConsoleWindow() && !(::FreeConsole(), ::AllocConsole()))
        return false;
    HANDLE input = InheritableFile("NUL", GENERIC_READ, OPEN_EXISTING);
    HANDLE output = InheritableFile(m_output.Path(), GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE errors = InheritableFile(m_errors.Path(), GENERIC_WRITE, CREATE_ALWAYS);
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = errors;
    std::string command = "\"" + exe + "\" " + arguments;
    BOOL started = FALSE;
    // Under load, Wine now and then fails to map a new process: such a start is tried again.
    for (int attempt = 0; attempt < 3 && !started; ++attempt) {
        if (attempt > 0)
            ::Sleep(500);
        started = ::CreateProcessA(exe.c_str(), command.data(), nullptr, nullptr, TRUE,
                                   ownGroup ? CREATE_NEW_PROCESS_GROUP : 0, nullptr, nullptr,
                                   &startup, &m_child);
    }
    for (HANDLE handle : {input, output, errors})
        if (handle != INVALID_HANDLE_VALUE)
            ::CloseHandle(handle);
    return started != FALSE;
}

bool ConsoleProgram::Finish(DWORD timeoutMs) {
    if (!m_child.hProcess)
        return true;
    const bool ended = ::WaitForSingleObject(m_child.hProcess, timeoutMs) == WAIT_OBJECT_0;
    if (!ended) {
        ::TerminateProcess(m_child.hProcess, 1);
        ::WaitForSingleObject(m_child.hProcess, 5000);
    }
    ::GetExitCodeProcess(m_child.hProcess, &m_exitCode);
    ::CloseHandle(m_child.hThread);
    ::CloseHandle(m_child.hProcess);
    m_child = {};
    return ended;
}

bool ConsoleProgram::Interrupt() const {
    return m_child.hProcess &&
           ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, m_child.dwProcessId) != FALSE;
}

DWORD RunConsole(ConsoleProgram& program, const std::string& arguments) {
    if (!program.Start(arguments) || !program.Finish())
        return STILL_ACTIVE;
    return program.ExitCode();
}
