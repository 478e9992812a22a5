// Simulated bridge library: stands in for CP210xManufacturing.dll, the USB-to-UART bridge maker's
// manufacturing library, so the tool can be run and tested without bridges attached.
//
// Calls (WINAPI, stdcall in the 32-bit build; 0 is success, anything else a failure). The tool
// binds them by ordinal:
//   @1  SimBridgeCount(DWORD* count)
//   @3  SimBridgeOpen(DWORD index, HANDLE* handle)          handle = index + 1
//   @4  SimBridgeClose(HANDLE handle)                       always 0, even for a handle not open
//   @12 SimBridgeProductText(HANDLE, LPVOID buffer, LPBYTE length, BOOL ascii)  buffer: 128 bytes
//   @13 SimBridgeSerialText(HANDLE, LPVOID buffer, LPBYTE length, BOOL ascii)   buffer: 64 bytes
//   @14 SimBridgeVid(HANDLE, WORD* vid)
//   @15 SimBridgePid(HANDLE, WORD* pid)
// For tests, by name only:
//   DWORD SimBridgeOpenHandleCount()  handles opened by @3 and not yet closed by @4
//   const char* SimBridgeCallLog()    the calls since the last @1, e.g.
//                                     "count open:0 vid:0 pid:0 product:0 serial:0 close:0"
//
// The bridges come from a description file: the file named by the environment variable
// ORVANE_SIM_BRIDGES if it is set and not empty, otherwise bridges.txt beside this DLL. It is read
// again at every @1 call, so a test can change it between two refreshes of the list.
//
//   # Text after '#' (outside quotes) is a comment; blank lines are ignored.
//   # One line per bridge, in index order; fields are key=value separated by blanks, a value may
//   # be put in double quotes to hold blanks or '#' (there are no escapes inside quotes).
//   vid=0x10C4 pid=0xEA60 product="Orvane Amplifier" serial="ab 1"
//   vid=0x10C4 pid=0xEA60 product="" serial=0002 fail=serial
//   vid=0x10C4 pid=0xEA60 product="Orvane Mixer" serial=0003 product_length=128
//   # A line of global settings only:
//   count=3 count_status=0
//
// Bridge keys (each optional):
//   vid=N, pid=N       numbers, decimal or 0x hex, up to 0xFFFF (default 0x10C4 and 0xEA60)
//   product=T, serial=T the texts, up to 255 characters (default empty)
//   fail=C[,C...]      these calls fail for this bridge: open, vid, pid, product, serial; the key
//                      may also be repeated
//   product_length=N, serial_length=N
//                      the call reports length N (at most 255) and writes min(N, buffer)
//                      characters: the text, cut or padded with 'X'. 128 for the product leaves no
//                      room for a terminating NUL. Without it the length is the text's own and the
//                      copy stops at the end of the buffer.
// Global keys (on a line of their own, without bridge keys):
//   count=N            @1 reports N bridges whatever the lines say; an index without a line, or
//                      not below N, fails to open
//   count_status=N     @1 returns N; when N is not 0 it writes nothing to *count
//
// Status values: 1 unknown or closed handle, 2 null pointer, 3 failure asked for by fail=,
// 0xFF no such bridge, 0xFE the description file could not be read as above (its line and the
// reason go to the call log as "error:..." and to OutputDebugString). A missing file means no
// bridges: @1 reports 0 and succeeds.
//
// With ascii FALSE the texts are written as UTF-16LE, the length still counts characters, and the
// copy stops at the buffer's byte size.
//
// Call log tokens: "count", "open:I", "close:I", "vid:I", "pid:I", "product:I", "serial:I" where I
// is the bridge index; a failed call has "=S" appended (S its status, decimal); a call on a handle
// that is not one of ours shows I as "?", e.g. "close:?". The log keeps about 8 KB, then ends
// in " ...".
//
// Opening an index twice gives the same handle twice and counts as two open handles, each needing
// its close. Handles outlive a re-read; a call on one whose line has gone returns 0xFF. A
// description that fails to read leaves the bridges of the last good one.
//
// Nothing here throws or allocates: plain Win32 and fixed tables, so no C++ exception or heap
// ownership crosses the DLL boundary.

#include <windows.h>

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

namespace {

constexpr DWORD kOk = 0x00;
constexpr DWORD kBadHandle = 0x01;
constexpr DWORD kBadParameter = 0x02;
constexpr DWORD kFailAsked = 0x03;
constexpr DWORD kBadDescription = 0xFE;
constexpr DWORD kNoBridge = 0xFF;

constexpr int kMaxBridges = 32;
constexpr int kMaxText = 255;
constexpr DWORD kProductBuffer = 128;
constexpr DWORD kSerialBuffer = 64;
constexpr DWORD kMaxFile = 64 * 1024;
constexpr int kLogSize = 8192;

enum FailBits : unsigned {
    kFailOpen = 1u << 0,
    kFailVid = 1u << 1,
    kFailPid = 1u << 2,
    kFailProduct = 1u << 3,
    kFailSerial = 1u << 4,
};

struct Bridge {
    WORD vid;
    WORD pid;
    char product[kMaxText + 1];
    char serial[kMaxText + 1];
    unsigned fail;
    int productLength; // -1: the text's own length
    int serialLength;
};

struct Description {
    Bridge bridges[kMaxBridges];
    int lines;
    bool countGiven;
    DWORD count;
    DWORD countStatus;
};

CRITICAL_SECTION lock;
HMODULE self;
Description current;    // as read by the last @1 call
int opens[kMaxBridges]; // open handles per index
char callLog[kLogSize]; // calls since the last @1
char logCopy[kLogSize]; // what SimBridgeCallLog hands out
char parseError[256];
Description parsed; // scratch for reading, kept off the stack

class Locked {
  public:
    Locked() { EnterCriticalSection(&lock); }
    ~Locked() { LeaveCriticalSection(&lock); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

void logAppend(const char* format, ...) {
    size_t used = strlen(callLog);
    if (used + 4 >= sizeof callLog)
        return;
    char token[128];
    va_list args;
    va_start(args, format);
    vsnprintf(token, sizeof token, format, args);
    va_end(args);
    const char* separator = used ? " " : "";
    if (used + strlen(separator) + strlen(token) + 4 >= sizeof callLog) {
        strcat(callLog, " ...");
        return;
    }
    strcat(callLog, separator);
    strcat(callLog, token);
}

void logCall(const char* name, int index, DWORD status) {
    char where[16] = "";
    if (index >= 0)
        snprintf(where, sizeof where, ":%d", index);
    else if (index == -2)
        strcpy(where, ":?");
    if (status == kOk)
        logAppend("%s%s", name, where);
    else
        logAppend("%s%s=%lu", name, where, status);
}

// Reads a number, decimal or 0x hex, that must fill the whole value.
bool parseNumber(const char* text, unsigned long limit, unsigned long& value) {
    int base = 10;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text += 2;
    }
    if (!*text)
        return false;
    unsigned long long v = 0;
    for (; *text; ++text) {
        int digit;
        if (*text >= '0' && *text <= '9')
            digit = *text - '0';
        else if (base == 16 && *text >= 'a' && *text <= 'f')
            digit = *text - 'a' + 10;
        else if (base == 16 && *text >= 'A' && *text <= 'F')
            digit = *text - 'A' + 10;
        else
            return false;
        v = v * base + digit;
        if (v > limit)
            return false;
    }
    value = static_cast<unsigned long>(v);
    return true;
}

bool parseFail(const char* text, unsigned& bits) {
    static const struct {
        const char* name;
        unsigned bit;
    } names[] = {{"open", kFailOpen},
                 {"vid", kFailVid},
                 {"pid", kFailPid},
                 {"product", kFailProduct},
                 {"serial", kFailSerial}};
    while (*text) {
        const char* end = strchr(text, ',');
        size_t length = end ? static_cast<size_t>(end - text) : strlen(text);
        bool known = false;
        for (const auto& n : names) {
            if (strlen(n.name) == length && strncmp(text, n.name, length) == 0) {
                bits |= n.bit;
                known = true;
            }
        }
        if (!known)
            return false;
        text += length + (end ? 1 : 0);
    }
    return true;
}

// Parses one line into the scratch description. Returns false with parseError set.
bool parseLine(char* line, int number) {
    Bridge bridge{};
    bridge.vid = 0x10C4;
    bridge.pid = 0xEA60;
    bridge.productLength = -1;
    bridge.serialLength = -1;
    bool bridgeKeys = false;
    bool globalKeys = false;

    char* p = line;
    for (;;) {
        while (*p == ' ' || *p == '\t' || *p == '\r')
            ++p;
        if (!*p || *p == '#')
            break;
        char* key = p;
        while (*p && *p != '=' && *p != ' ' && *p != '\t' && *p != '\r' && *p != '#')
            ++p;
        if (*p != '=') {
            snprintf(parseError, sizeof parseError, "line %d: a field without '='", number);
            return false;
        }
        *p++ = '\0';
        char* value = p;
        if (*p == '"') {
            value = ++p;
            while (*p && *p != '"')
                ++p;
            if (*p != '"') {
                snprintf(parseError, sizeof parseError, "line %d: unclosed quote", number);
                return false;
            }
            *p++ = '\0';
            if (*p && *p != ' ' && *p != '\t' && *p != '\r' && *p != '#') {
                snprintf(parseError, sizeof parseError, "line %d: text after a quoted value",
                         number);
                return false;
            }
        } else {
            while (*p && *p != ' ' && *p != '\t' && *p != '\r' && *p != '#')
                ++p;
        }
        char next = *p;
        *p = '\0';

        unsigned long n = 0;
        bool good = true;
        if (strcmp(key, "vid") == 0 || strcmp(key, "pid") == 0) {
            good = parseNumber(value, 0xFFFF, n);
            (key[0] == 'v' ? bridge.vid : bridge.pid) = static_cast<WORD>(n);
            bridgeKeys = true;
        } else if (strcmp(key, "product") == 0 || strcmp(key, "serial") == 0) {
            good = strlen(value) <= kMaxText;
            strcpy(key[0] == 'p' ? bridge.product : bridge.serial, good ? value : "");
            bridgeKeys = true;
        } else if (strcmp(key, "product_length") == 0 || strcmp(key, "serial_length") == 0) {
            good = parseNumber(value, 0xFFFFFFFF, n);
            (key[0] == 'p' ? bridge.productLength : bridge.serialLength) =
                static_cast<int>(n > kMaxText ? kMaxText : n);
            bridgeKeys = true;
        } else if (strcmp(key, "fail") == 0) {
            good = parseFail(value, bridge.fail);
            bridgeKeys = true;
        } else if (strcmp(key, "count") == 0) {
            good = parseNumber(value, 0xFFFFFFFF, n);
            parsed.countGiven = true;
            parsed.count = n;
            globalKeys = true;
        } else if (strcmp(key, "count_status") == 0) {
            good = parseNumber(value, 0xFFFFFFFF, n);
            parsed.countStatus = n;
            globalKeys = true;
        } else {
            snprintf(parseError, sizeof parseError, "line %d: unknown key %s", number, key);
            return false;
        }
        if (!good) {
            snprintf(parseError, sizeof parseError, "line %d: bad value for %s", number, key);
            return false;
        }
        if (next == '#' || next == '\0')
            break;
        ++p;
    }

    if (bridgeKeys && globalKeys) {
        snprintf(parseError, sizeof parseError, "line %d: bridge and global keys mixed", number);
        return false;
    }
    if (bridgeKeys) {
        if (parsed.lines == kMaxBridges) {
            snprintf(parseError, sizeof parseError, "line %d: more than %d bridges", number,
                     kMaxBridges);
            return false;
        }
        parsed.bridges[parsed.lines++] = bridge;
    }
    return true;
}

void descriptionPath(char* path, DWORD size) {
    DWORD n = GetEnvironmentVariableA("ORVANE_SIM_BRIDGES", path, size);
    if (n > 0 && n < size)
        return;
    n = GetModuleFileNameA(self, path, size);
    if (n == 0 || n >= size) {
        lstrcpynA(path, "bridges.txt", size);
        return;
    }
    char* slash = strrchr(path, '\\');
    char* other = strrchr(path, '/');
    if (other > slash)
        slash = other;
    char* name = slash ? slash + 1 : path;
    lstrcpynA(name, "bridges.txt", static_cast<int>(size - (name - path)));
}

// Reads the description file into `current`. Returns a status for @1.
DWORD readDescription() {
    parsed = Description{};
    parseError[0] = '\0';

    char path[MAX_PATH + 1];
    descriptionPath(path, sizeof path);
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            current = parsed; // no file: no bridges
            return kOk;
        }
        snprintf(parseError, sizeof parseError, "cannot open %s (error %lu)", path, error);
        return kBadDescription;
    }
    static char text[kMaxFile + 1];
    DWORD size = 0;
    BOOL read = ReadFile(file, text, kMaxFile, &size, nullptr);
    bool tooLong = read && size == kMaxFile && GetFileSize(file, nullptr) > kMaxFile;
    CloseHandle(file);
    if (!read || tooLong) {
        snprintf(parseError, sizeof parseError, "cannot read %s", path);
        return kBadDescription;
    }
    text[size] = '\0';

    int number = 1;
    for (char* line = text; line; ++number) {
        char* end = strchr(line, '\n');
        if (end)
            *end = '\0';
        if (!parseLine(line, number))
            return kBadDescription;
        line = end ? end + 1 : nullptr;
    }
    current = parsed;
    return kOk;
}

DWORD reportedCount() {
    return current.countGiven ? current.count : static_cast<DWORD>(current.lines);
}

// The index of an open handle, or -2 for anything else.
int openIndex(HANDLE handle) {
    ULONG_PTR value = reinterpret_cast<ULONG_PTR>(handle);
    if (value < 1 || value > kMaxBridges || opens[value - 1] == 0)
        return -2;
    return static_cast<int>(value - 1);
}

DWORD handleCall(const char* name, HANDLE handle, unsigned failBit, const Bridge** bridge) {
    int index = openIndex(handle);
    DWORD status = kOk;
    if (index < 0)
        status = kBadHandle;
    else if (index >= current.lines || static_cast<DWORD>(index) >= reportedCount())
        status = kNoBridge; // gone from the description since it was opened
    else if (current.bridges[index].fail & failBit)
        status = kFailAsked;
    else
        *bridge = &current.bridges[index];
    logCall(name, index, status);
    return status;
}

DWORD textCall(const char* name, HANDLE handle, LPVOID buffer, LPBYTE length, BOOL ascii,
               bool product) {
    Locked locked;
    if (!buffer || !length) {
        logCall(name, openIndex(handle), kBadParameter);
        return kBadParameter;
    }
    const Bridge* bridge = nullptr;
    DWORD status = handleCall(name, handle, product ? kFailProduct : kFailSerial, &bridge);
    if (status != kOk)
        return status;

    const char* text = product ? bridge->product : bridge->serial;
    int asked = product ? bridge->productLength : bridge->serialLength;
    DWORD bufferBytes = product ? kProductBuffer : kSerialBuffer;
    DWORD room = ascii ? bufferBytes : bufferBytes / 2;
    DWORD textLength = static_cast<DWORD>(strlen(text));
    DWORD reported = asked >= 0 ? static_cast<DWORD>(asked) : textLength;
    DWORD written = reported < room ? reported : room;
    for (DWORD i = 0; i < written; ++i) {
        char c = i < textLength ? text[i] : 'X';
        if (ascii)
            static_cast<char*>(buffer)[i] = c;
        else
            static_cast<WCHAR*>(buffer)[i] = static_cast<unsigned char>(c);
    }
    *length = static_cast<BYTE>(reported);
    return kOk;
}

} // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        self = instance;
        InitializeCriticalSection(&lock);
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH) {
        DeleteCriticalSection(&lock);
    }
    return TRUE;
}

DWORD WINAPI SimBridgeCount(DWORD* count) {
    Locked locked;
    callLog[0] = '\0';
    DWORD status = readDescription();
    if (status == kBadDescription) {
        logCall("count", -1, status);
        logAppend("error:%s", parseError);
        OutputDebugStringA("CP210xManufacturing.dll (simulated): ");
        OutputDebugStringA(parseError);
        OutputDebugStringA("\n");
        return status;
    }
    if (!count)
        status = kBadParameter;
    else if (current.countStatus != kOk)
        status = current.countStatus;
    else
        *count = reportedCount();
    logCall("count", -1, status);
    return status;
}

DWORD WINAPI SimBridgeOpen(DWORD index, HANDLE* handle) {
    Locked locked;
    DWORD status = kOk;
    if (!handle)
        status = kBadParameter;
    else if (index >= reportedCount() || index >= static_cast<DWORD>(current.lines))
        status = kNoBridge;
    else if (current.bridges[index].fail & kFailOpen)
        status = kFailAsked;
    if (status == kOk) {
        ++opens[index];
        *handle = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(index) + 1);
    }
    logCall("open", index < 0x7FFFFFFF ? static_cast<int>(index) : -2, status);
    return status;
}

DWORD WINAPI SimBridgeClose(HANDLE handle) {
    Locked locked;
    int index = openIndex(handle);
    if (index >= 0)
        --opens[index];
    logCall("close", index, kOk);
    return kOk;
}

DWORD WINAPI SimBridgeProductText(HANDLE handle, LPVOID buffer, LPBYTE length, BOOL ascii) {
    return textCall("product", handle, buffer, length, ascii, true);
}

DWORD WINAPI SimBridgeSerialText(HANDLE handle, LPVOID buffer, LPBYTE length, BOOL ascii) {
    return textCall("serial", handle, buffer, length, ascii, false);
}

DWORD WINAPI SimBridgeVid(HANDLE handle, WORD* vid) {
    Locked locked;
    if (!vid) {
        logCall("vid", openIndex(handle), kBadParameter);
        return kBadParameter;
    }
    const Bridge* bridge = nullptr;
    DWORD status = handleCall("vid", handle, kFailVid, &bridge);
    if (status == kOk)
        *vid = bridge->vid;
    return status;
}

DWORD WINAPI SimBridgePid(HANDLE handle, WORD* pid) {
    Locked locked;
    if (!pid) {
        logCall("pid", openIndex(handle), kBadParameter);
        return kBadParameter;
    }
    const Bridge* bridge = nullptr;
    DWORD status = handleCall("pid", handle, kFailPid, &bridge);
    if (status == kOk)
        *pid = bridge->pid;
    return status;
}

DWORD WINAPI SimBridgeOpenHandleCount() {
    Locked locked;
    DWORD total = 0;
    for (int n : opens)
        total += static_cast<DWORD>(n);
    return total;
}

const char* WINAPI SimBridgeCallLog() {
    Locked locked;
    memcpy(logCopy, callLog, sizeof callLog);
    return logCopy;
}

} // extern "C"
