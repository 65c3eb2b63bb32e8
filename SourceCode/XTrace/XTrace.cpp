#include "XTrace.h"

#include "LocalClock.h"
#include "SafeFile.h"
#include "TracePlatform.h"

TraceSettingsData TraceSettings = {0, 0, 3};
std::u16string LogFileName;
TraceObserverFn TraceObserver = nullptr;

namespace {

constexpr char16_t kSettingsFileName[] = u"TqDbgCfg.ini";
constexpr char16_t kSettingsSection[] = u"OUTPUT";
constexpr char16_t kLineLayout[] = u"%19s(%04d) : %s\n";
// A log line holds at most 4095 characters; each may become two bytes (CR LF).
constexpr size_t kLogBytes = 2 * kTraceBufferChars;

size_t Length(const char16_t* text) {
    size_t n = 0;
    while (text[n] != u'\0') {
        ++n;
    }
    return n;
}

// Puts the executable's directory, with its closing backslash, into `path`. Returns its
// length, or 0 when the executable's path is unknown or does not fit: nothing beside the
// program can be named then.
size_t ExecutableDirectory(char16_t (&path)[kTracePathChars]) {
    const uint32_t length = TracePlatform::ExecutablePath(path, kTracePathChars);
    if (length == 0 || length >= kTracePathChars) {
        return 0;
    }
    path[length] = u'\0';
    size_t directoryLength = 0;
    for (size_t i = 0; i < length; ++i) {
        if (path[i] == u'\\') {
            directoryLength = i + 1;
        }
    }
    path[directoryLength] = u'\0';
    return directoryLength;
}

// Appends `name` to the directory in `path`; false when the result would not fit.
bool AppendName(char16_t (&path)[kTracePathChars], size_t directoryLength, const char16_t* name) {
    const size_t nameLength = Length(name);
    if (directoryLength == 0 || nameLength == 0 ||
        directoryLength + nameLength >= kTracePathChars) {
        return false;
    }
    for (size_t i = 0; i <= nameLength; ++i) {
        path[directoryLength + i] = name[i];
    }
    return true;
}

// One override value. Only data of exactly the setting's four bytes is taken: anything else
// would leave the setting partly written or filled with undefined bytes.
void ReadOverride(TracePlatform::KeyHandle key, const char16_t* name, int32_t* setting) {
    uint8_t data[4] = {};
    uint32_t size = sizeof(data);
    if (TracePlatform::QueryOverride(key, name, data, &size) != 0 || size != sizeof(data)) {
        return;
    }
    *setting = static_cast<int32_t>(
        static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
        static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24);
}

const char16_t* BaseName(const char16_t* sourcePath) {
    if (sourcePath == nullptr) {
        return u"";
    }
    const char16_t* base = sourcePath;
    for (const char16_t* p = sourcePath; *p != u'\0'; ++p) {
        if (*p == u'\\') {
            base = p + 1;
        }
    }
    return base;
}

// The log file's bytes for a scrambled line: one byte per character up to the terminator, a
// line feed as CR LF. Characters above U+00FF have no single byte and are written as '?'.
size_t ToLogBytes(const char16_t* line, char (&bytes)[kLogBytes]) {
    size_t n = 0;
    for (const char16_t* p = line; *p != u'\0' && n + 2 <= kLogBytes; ++p) {
        if (*p == u'\n') {
            bytes[n++] = '\r';
            bytes[n++] = '\n';
        } else {
            bytes[n++] = static_cast<char>(*p <= 0xFF ? *p : u'?');
        }
    }
    return n;
}

void WriteLogFile(const char16_t* line) {
    if (LogFileName.empty()) {
        return;
    }
    char16_t path[kTracePathChars];
    const size_t directoryLength = ExecutableDirectory(path);
    if (!AppendName(path, directoryLength, LogFileName.c_str())) {
        return;
    }
    char bytes[kLogBytes];
    const size_t count = ToLogBytes(line, bytes);
    // A record that another writer keeps out, or that could not be written whole, is lost from
    // the file; the next record tries again.
    SafeFile::AppendToFile(path, bytes, count);
}

} // namespace

void InitTrace() {
    char16_t path[kTracePathChars];
    const size_t directoryLength = ExecutableDirectory(path);
    if (AppendName(path, directoryLength, kSettingsFileName)) {
        TraceSettings.LOGFILE = TracePlatform::ProfileInt(kSettingsSection, u"LOGFILE", 0, path);
        TraceSettings.VIEW = TracePlatform::ProfileInt(kSettingsSection, u"VIEW", 0, path);
        TraceSettings.LEVEL = TracePlatform::ProfileInt(kSettingsSection, u"LEVEL", 3, path);
    } else {
        TraceSettings = {0, 0, 3};
    }

    TracePlatform::KeyHandle key = nullptr;
    if (TracePlatform::OpenOverrideKey(&key) == 0) {
        ReadOverride(key, u"LOGFILE", &TraceSettings.LOGFILE);
        ReadOverride(key, u"VIEW", &TraceSettings.VIEW);
        ReadOverride(key, u"LEVEL", &TraceSettings.LEVEL);
        TracePlatform::CloseOverrideKey(key);
    }

    if (TraceSettings.LOGFILE != 0 && LogFileName.empty()) {
        LogFileName = MakeLogFileName(LocalClock::CurrentTime());
    }
}

std::u16string MakeLogFileName(int64_t time) {
    LocalClock::CivilTime local{};
    if (!LocalClock::BreakDown(time, &local, nullptr)) {
        return {};
    }
    char16_t name[128];
    const FormatArg parts[] = {local.month, local.day, local.hour, local.minute};
    if (FormatWide(name, 128, u"%02d%02d%02d%02d.log", parts, 4) <= 0) {
        return {};
    }
    return name;
}

namespace {

void ShiftLine(char16_t* line, char16_t shift) {
    if (line == nullptr) {
        return;
    }
    for (char16_t* p = line; *p != u'\0' && *p != u'\n'; ++p) {
        if (*p != u' ') {
            *p = static_cast<char16_t>(*p + shift);
        }
    }
}

} // namespace

void ScrambleLine(char16_t* line) {
    ShiftLine(line, 0x40);
}

void UnscrambleLine(char16_t* line) {
    ShiftLine(line, static_cast<char16_t>(0x10000 - 0x40));
}

void TraceEmit(const TraceSite& site, const char16_t* format, const FormatArg* args,
               size_t argCount) {
    // The caller may read its own last error after the record: keep it across our calls.
    const uint32_t callerError = TracePlatform::ThreadLastError();
    // Pass 1: the line layout around the caller's format, which is inserted as text.
    char16_t composed[kTraceBufferChars];
    const FormatArg layout[] = {BaseName(site.sourcePath), site.line,
                                format != nullptr ? format : u""};
    FormatWide(composed, kTraceBufferChars, kLineLayout, layout, 3);

    // Pass 2: everything composed, the base name included, is format text now.
    char16_t line[kTraceBufferChars];
    FormatWide(line, kTraceBufferChars, composed, args, argCount);
    if (TraceObserver != nullptr) {
        TraceObserver(site, format, line);
    }

    if (TraceSettings.VIEW != 0) {
        TracePlatform::DebugChannelWrite(line);
    }
    if (TraceSettings.LOGFILE != 0) {
        ScrambleLine(line);
        WriteLogFile(line);
    }
    TracePlatform::SetThreadLastError(callerError);
}
