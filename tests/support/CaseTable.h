#pragma once
// The rows of a case table that the suites share: a case per line, its columns separated by tabs;
// empty lines and lines that start with '#' are left out.

#include <sstream>
#include <string>
#include <vector>

inline std::vector<std::vector<std::string>> CaseRows(const std::string& table) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(table);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string>& columns = rows.emplace_back();
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, '\t');)
            columns.push_back(field);
    }
    return rows;
}
