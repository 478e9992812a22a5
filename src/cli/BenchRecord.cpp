#include "cli/BenchRecord.h"

#include "cli/UnitText.h"

#include <chrono>
#include <cstdio>

std::string UtcNow() {
    using namespace std::chrono;
    const auto now = floor<seconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day date{day};
    const hh_mm_ss time{now - day};
    char text[32];
    std::snprintf(text, sizeof(text), "%04d-%02u-%02uT%02d:%02d:%02dZ", int(date.year()),
                  unsigned(date.month()), unsigned(date.day()), int(time.hours().count()),
                  int(time.minutes().count()), int(time.seconds().count()));
    return text;
}

std::string CsvField(const std::string& text) {
    std::string field = text;
    if (!field.empty() && std::string("=+-@\t\r").find(field.front()) != std::string::npos)
        field.insert(0, 1, '\'');
    if (field.find_first_of("\",\r\n") == std::string::npos)
        return field;
    std::string quoted = "\"";
    for (const char c : field) {
        quoted += c;
        if (c == '"')
            quoted += '"';
    }
    return quoted + "\"";
}

std::string CsvLine(const std::vector<std::string>& fields) {
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i)
        line += (i ? "," : "") + CsvField(fields[i]);
    return line + "\r\n";
}

std::string RecordHeader() {
    return CsvLine({"time", "host", "port", "serial", "product", "model", "old version",
                    "firmware file", "sha256", "new version", "result", "bytes", "seconds",
                    "confirmed"});
}

std::string RecordLine(const RecordRow& row) {
    return CsvLine({UtcNow(), HostName(), row.port, row.serial, row.product, row.model,
                    row.oldVersion, row.file, row.sha256, row.newVersion, row.result, row.bytes,
                    row.seconds, row.confirmed});
}

RecordRow RecordOf(const Unit& unit, const CatalogFile* file, const std::string& result,
                   std::uint32_t bytes, const std::string& seconds, const std::string& confirmed) {
    RecordRow row;
    row.port = PortText(unit);
    row.serial = unit.serial;
    row.product = unit.product;
    row.model = ModelText(unit);
    row.oldVersion = FirmwareText(unit);
    if (file) {
        row.file = file->path;
        row.sha256 = file->sha256;
        row.newVersion = ThreeDigits(file->version);
    }
    row.result = result;
    row.bytes = std::to_string(bytes);
    row.seconds = seconds;
    row.confirmed = confirmed;
    return row;
}

bool BenchRecord::Append(const RecordRow& row, Console& console) const {
    std::string error;
    if (AppendToRecordFile(m_path, RecordHeader(), RecordLine(row), error))
        return true;
    console.Error("not recorded (" + row.port + ", serial " + row.serial + "): " + error);
    m_lost = true;
    return false;
}

bool BenchRecord::CanAppend(Console& console) const {
    std::string error;
    if (RecordFileWritable(m_path, error))
        return true;
    console.Error("not started: --record " + error);
    return false;
}
