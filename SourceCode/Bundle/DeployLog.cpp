#include "DeployLog.h"

#include <map>
#include <string_view>

#include "DeployPlatform.h"
#include "LogDecode.h"
#include "TracePlatform.h"
#include "Utf8.h"

namespace {

const char kUsage[] = "Usage: DeployLog LOG begin ACTION ARCHITECTURE [DEPLOY-ARGUMENT...]\n"
                      "       DeployLog LOG run [--trace] PROGRAM [ARGUMENT...]\n"
                      "       DeployLog LOG say WORD...\n"
                      "       DeployLog LOG end CODE\n";

std::string Utf8(std::u16string_view text) {
    return Text::Utf16ToUtf8(text);
}

// Text with every line ended by CR LF, as Windows log readers expect.
std::string WithCrLf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
            out += '\r';
        }
        out += text[i];
    }
    if (!out.empty() && out.back() != '\n') {
        out += "\r\n";
    }
    return out;
}

// At most kDeployLogMaxCapture bytes of `text`, saying when the rest was left out.
std::string Capped(std::string text) {
    if (text.size() > kDeployLogMaxCapture) {
        const size_t dropped = text.size() - kDeployLogMaxCapture;
        text.resize(kDeployLogMaxCapture);
        text += "\n[" + std::to_string(dropped) + " more bytes left out]\n";
    }
    return text;
}

class Log {
  public:
    explicit Log(std::u16string path) : path_(std::move(path)) {}

    // Appends `text`, lines ended by CR LF. A log that cannot be written says so once.
    void Append(std::string_view text) {
        if (path_.empty() || failed_) {
            return;
        }
        const std::string bytes = WithCrLf(text);
        if (!TracePlatform::AppendToFile(path_.c_str(), bytes.data(), bytes.size())) {
            failed_ = true;
            DeployPlatform::WriteOutput(
                true, "DeployLog: could not write the deployment log " + Utf8(path_) +
                          " (it is missing a folder, held open, or not a plain file); the "
                          "deployment goes on without it.\n");
        }
    }

    // Rolls the log over once it has reached kDeployLogRollBytes.
    void RollOverIfFull() {
        if (path_.empty()) {
            return;
        }
        const std::optional<uint64_t> size = DeployPlatform::PlainFileSize(path_);
        if (size && *size >= kDeployLogRollBytes &&
            !DeployPlatform::RenameReplacing(path_, RolledOverName(path_))) {
            DeployPlatform::WriteOutput(true, "DeployLog: could not roll " + Utf8(path_) +
                                                  " over to " + Utf8(RolledOverName(path_)) +
                                                  ".\n");
        }
    }

  private:
    std::u16string path_;
    bool failed_ = false;
};

std::string TwoDigits(int value) {
    return {static_cast<char>('0' + value / 10 % 10), static_cast<char>('0' + value % 10)};
}

// "2026-12-09 07:12:03 +01:00".
std::string TimeText(const DeployPlatform::LocalNow& now) {
    const int offset = now.utcOffsetMinutes < 0 ? -now.utcOffsetMinutes : now.utcOffsetMinutes;
    return std::to_string(now.year) + "-" + TwoDigits(now.month) + "-" + TwoDigits(now.day) + " " +
           TwoDigits(now.hour) + ":" + TwoDigits(now.minute) + ":" + TwoDigits(now.second) + " " +
           (now.utcOffsetMinutes < 0 ? "-" : "+") + TwoDigits(offset / 60) + ":" +
           TwoDigits(offset % 60);
}

std::u16string CommandLine(const std::vector<std::u16string>& words) {
    std::u16string line;
    for (const std::u16string& word : words) {
        if (!line.empty()) {
            line += u' ';
        }
        line += QuoteArgument(word);
    }
    return line;
}

std::u16string FolderOf(const std::u16string& path) {
    const size_t slash = path.find_last_of(u"\\/");
    return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash);
}

// The *.log files beside a program, by name, with their sizes.
std::map<std::u16string, uint64_t> TraceLogs(const std::u16string& folder) {
    std::map<std::u16string, uint64_t> logs;
    for (const DeployPlatform::PlainFile& file : DeployPlatform::ListLogFiles(folder)) {
        logs[file.name] = file.bytes;
    }
    return logs;
}

// Each line of `text` behind `prefix`.
std::string Prefixed(std::string_view prefix, std::string_view text) {
    std::string out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string_view::npos ? text.size() : end + 1;
        out += prefix;
        out += text.substr(start, end - start);
        start = end;
    }
    if (!out.empty() && out.back() != '\n') {
        out += '\n';
    }
    return out;
}

int Begin(Log& log, const std::vector<std::u16string>& arguments) {
    if (arguments.size() < 4) {
        DeployPlatform::WriteOutput(true, kUsage);
        return 2;
    }
    log.RollOverIfFull();
    const std::vector<std::u16string> deployArguments(arguments.begin() + 4, arguments.end());
    log.Append("==== " + TimeText(DeployPlatform::Now()) + " Deploy.cmd " + Utf8(arguments[2]) +
               " on " + Utf8(DeployPlatform::ComputerName()) + " as " +
               Utf8(DeployPlatform::AccountName()) + "\ncommand line: " +
               Utf8(CommandLine(deployArguments)) + "\narchitecture: " + Utf8(arguments[3]) + "\n");
    return 0;
}

int Run(Log& log, const std::vector<std::u16string>& arguments) {
    size_t first = 2;
    const bool trace = arguments.size() > first && arguments[first] == u"--trace";
    if (trace) {
        ++first;
    }
    if (arguments.size() <= first) {
        DeployPlatform::WriteOutput(true, kUsage);
        return 2;
    }
    const std::u16string& program = arguments[first];
    const std::vector<std::u16string> programArguments(arguments.begin() + first + 1,
                                                       arguments.end());
    std::vector<std::u16string> words = {program};
    words.insert(words.end(), programArguments.begin(), programArguments.end());
    const std::u16string commandLine = CommandLine(words);
    const std::u16string folder = FolderOf(program);
    const std::map<std::u16string, uint64_t> before =
        trace ? TraceLogs(folder) : std::map<std::u16string, uint64_t>{};

    const DeployPlatform::Finished finished =
        DeployPlatform::RunProgram(program, programArguments, commandLine);
    DeployPlatform::WriteOutput(false, finished.out);
    DeployPlatform::WriteOutput(true, finished.err);

    std::string record = "-- " + Utf8(commandLine) + "\n" + Capped(finished.out);
    if (!finished.err.empty()) {
        record += Prefixed("stderr: ", Capped(finished.err));
    }
    if (!finished.started) {
        const std::string why = "did not start: error " + std::to_string(finished.code);
        DeployPlatform::WriteOutput(true, "DeployLog: " + Utf8(program) + " " + why + "\n");
        record += why + "\n";
    } else {
        record += "exit code: " + std::to_string(finished.code) + "\n";
    }
    // The run's records are what its *.log files gained: a new file, or the end of one that grew.
    if (trace) {
        for (const auto& [name, bytes] : TraceLogs(folder)) {
            const auto old = before.find(name);
            const uint64_t from = old == before.end() ? 0 : old->second;
            std::string added;
            if (bytes <= from || !DeployPlatform::ReadPlainFile(folder + u"\\" + name, from,
                                                                kDeployLogMaxCapture, &added)) {
                continue;
            }
            record += "trace " + Utf8(name) + ":\n" + DecodeTraceLog(added);
        }
    }
    log.Append(record);
    return static_cast<int>(finished.code);
}

int Say(Log& log, const std::vector<std::u16string>& arguments) {
    std::string text;
    for (size_t i = 2; i < arguments.size(); ++i) {
        if (i > 2) {
            text += ' ';
        }
        text += Utf8(arguments[i]);
    }
    text += "\n";
    DeployPlatform::WriteOutput(true, text);
    log.Append(text);
    return 0;
}

int End(Log& log, const std::vector<std::u16string>& arguments) {
    if (arguments.size() != 3) {
        DeployPlatform::WriteOutput(true, kUsage);
        return 2;
    }
    const std::string code = Utf8(arguments[2]);
    int value = 0;
    bool number = !code.empty() && code.size() < 10;
    for (const char c : code) {
        number = number && c >= '0' && c <= '9';
        value = number ? value * 10 + (c - '0') : 0;
    }
    log.Append("result: " + code + " (" + (number ? DeployResultMeaning(value) : "unknown") +
               ")\n");
    return 0;
}

} // namespace

std::u16string QuoteArgument(const std::u16string& argument) {
    if (!argument.empty() && argument.find_first_of(u" \t\n\v\"") == std::u16string::npos) {
        return argument;
    }
    std::u16string quoted = u"\"";
    size_t backslashes = 0;
    for (const char16_t c : argument) {
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote escape it; the quote itself needs one more.
        quoted.append(c == u'"' ? 2 * backslashes + 1 : backslashes, u'\\');
        backslashes = 0;
        quoted += c;
    }
    // Before the closing quote, every backslash is doubled.
    quoted.append(2 * backslashes, u'\\');
    return quoted + u"\"";
}

std::u16string RolledOverName(const std::u16string& log) {
    const size_t slash = log.find_last_of(u"\\/");
    const size_t dot = log.find_last_of(u'.');
    const bool extension =
        dot != std::u16string::npos && (slash == std::u16string::npos || dot > slash);
    return (extension ? log.substr(0, dot) : log) + u".old";
}

const char* DeployResultMeaning(int code) {
    switch (code) {
    case 0:
        return "done and verified";
    case 3010:
        return "done, restart needed";
    case 1603:
        return "not done";
    case 2:
        return "wrong command line";
    case 3:
        return "device state unreadable";
    case 1633:
        return "platform not x86 or x64";
    default:
        return "unknown";
    }
}

int RunDeployLog(const std::vector<std::u16string>& arguments) {
    if (arguments.size() < 2) {
        DeployPlatform::WriteOutput(true, kUsage);
        return 2;
    }
    Log log(arguments[0]);
    const std::u16string& command = arguments[1];
    if (command == u"begin") {
        return Begin(log, arguments);
    }
    if (command == u"run") {
        return Run(log, arguments);
    }
    if (command == u"say") {
        return Say(log, arguments);
    }
    if (command == u"end") {
        return End(log, arguments);
    }
    DeployPlatform::WriteOutput(true, kUsage);
    return 2;
}
