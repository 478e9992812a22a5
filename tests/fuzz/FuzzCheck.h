#pragma once
// What the fuzz targets share: a property that does not hold ends the run with what broke, so
// that libFuzzer keeps the input as a crash file and scripts/fuzz.sh counts the target as failed.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <fcntl.h>
#include <unistd.h>

inline void Require(bool holds, const char* property, const std::string& detail = "") {
    if (holds)
        return;
    std::fprintf(stderr, "PROPERTY FAILED: %s%s%s\n", property, detail.empty() ? "" : ": ",
                 detail.c_str());
    std::abort();
}

// Hex of a text, for a failure's detail.
inline std::string HexOf(const std::string& text) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const char c : text) {
        hex += kDigits[static_cast<unsigned char>(c) >> 4];
        hex += kDigits[static_cast<unsigned char>(c) & 15];
        hex += ' ';
    }
    return hex;
}

// Standard output and error sent to /dev/null while it lives, so that what the code under test
// prints does not drown libFuzzer's own lines; a failure after it ends is reported as usual.
class Silenced {
  public:
    Silenced() : m_out(::dup(1)), m_err(::dup(2)) {
        std::fflush(stdout);
        std::fflush(stderr);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::close(null);
    }
    ~Silenced() {
        std::fflush(stdout);
        std::fflush(stderr);
        ::dup2(m_out, 1);
        ::dup2(m_err, 2);
        ::close(m_out);
        ::close(m_err);
    }
    Silenced(const Silenced&) = delete;
    Silenced& operator=(const Silenced&) = delete;

  private:
    int m_out, m_err;
};
