#pragma once
// Runs one test of this program in a process of its own, for what a process fixes at its start
// (the system version Wine reports to it) or finds beside its executable (the bridge library).
// The child test is a DISABLED_ one, so it never runs on its own; it reports to the parent
// through a file.

#include <windows.h>

#include <string>

struct ChildRun {
    bool finished = false; // started and ended within the time limit
    DWORD exitCode = 1;    // 0: the child's tests passed
    std::string report;    // what the child wrote with WriteChildReport
};

// filter: the child's --gtest_filter. exe: the program to start, by default this one. folder:
// the child's current folder, by default this process's.
ChildRun RunChildTest(const std::string& filter, const std::string& exe = {},
                      const std::string& folder = {});

// In a child test: whether a parent started it (skip otherwise), and its report.
bool InChildRun();
bool WriteChildReport(const std::string& text);

// This program's full path.
std::string ThisProgram();
