#pragma once
// The console program's JSON: texts as JSON strings, and the --json events of check, update and
// watch, one object per line, each with the fields of the bench record's row.

#include "cli/BenchRecord.h"

#include <string>
#include <utility>
#include <vector>

// A device text as a JSON string in UTF-8. The bridge's texts need not be UTF-8: a character
// that is well-formed UTF-8 passes whole, and any other byte is taken as the Latin-1 character
// of its value.
std::string JsonString(const std::string& text);

// Members to add to an object: names and their values as JSON.
using JsonMembers = std::vector<std::pair<std::string, std::string>>;
std::string MembersJson(const JsonMembers& members);

// {"event": ..., "time": UTC, "host": ..., then the row's fields, each a string as in the CSV
// (port, serial, product, model, old_version, file, sha256, new_version, result, bytes, seconds,
// confirmed), then extra}.
std::string EventJson(const std::string& event, const RecordRow& row,
                      const JsonMembers& extra = {});

// {"event": "totals", "time": UTC, the counts, "exit": the exit code}.
std::string TotalsJson(const std::vector<std::pair<std::string, unsigned>>& counts, int exitCode);
