#include "DeployRecord.h"

#include <map>

#include "AsciiCase.h"
#include "DeployCommandLine.h"
#include "DeployPlatform.h"
#include "LogDecode.h"
#include "SafeFile.h"
#include "Utf8.h"

namespace {

// At most kDeployMaxCapture bytes of `text`, saying when the rest was left out.
std::string Capped(std::string text) {
    if (text.size() > kDeployMaxCapture) {
        const size_t dropped = text.size() - kDeployMaxCapture;
        text.resize(kDeployMaxCapture);
        text += "\n[" + std::to_string(dropped) + " more bytes left out]\n";
    }
    return text;
}

// Each line of `text` behind `prefix`, the last one ended too.
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

// The *.log files beside a program, by name, with their sizes.
std::map<std::u16string, uint64_t> TraceLogs(const std::u16string& folder) {
    std::map<std::u16string, uint64_t> logs;
    for (const DeployPlatform::Entry& entry : DeployPlatform::ListFolder(folder)) {
        if (!entry.folder && IsLogName(entry.name)) {
            logs[entry.name] = entry.bytes;
        }
    }
    return logs;
}

std::u16string FolderOf(const std::u16string& path) {
    const size_t slash = path.find_last_of(u"\\/");
    return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash);
}

} // namespace

bool IsLogName(std::u16string_view name) {
    return name.size() >= 4 && EqualIgnoringAsciiCase(name.substr(name.size() - 4), u".log");
}

std::string Utf8(std::u16string_view text) {
    return Text::Utf16ToUtf8(text);
}

void DeployRecord::Add(std::string_view text) {
    text_ += text;
    if (!text_.empty() && text_.back() != '\n') {
        text_ += '\n';
    }
}

void DeployRecord::Say(std::string_view line) {
    const std::string text = std::string(line) + "\n";
    DeployPlatform::WriteOutput(true, text);
    Add(text);
}

StepCode DeployRecord::Run(const std::u16string& program,
                           const std::vector<std::u16string>& arguments, bool trace) {
    std::vector<std::u16string> words = {program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    const std::u16string folder = FolderOf(program);
    const std::map<std::u16string, uint64_t> before =
        trace ? TraceLogs(folder) : std::map<std::u16string, uint64_t>{};

    const DeployPlatform::Finished finished = DeployPlatform::RunProgram(program, arguments);
    DeployPlatform::WriteOutput(false, finished.out);
    DeployPlatform::WriteOutput(true, finished.err);

    Add("-- " + Utf8(QuotedLine(words)) + "\n");
    text_ += Capped(finished.out);
    Add("");
    if (!finished.err.empty()) {
        Add(Prefixed("stderr: ", Capped(finished.err)));
    }
    Add(finished.started ? "exit code: " + std::to_string(finished.code)
                         : "did not start: error " + std::to_string(finished.code));
    // The run's records are what its *.log files gained: a new file, or the end of one that grew.
    if (trace) {
        for (const auto& [name, bytes] : TraceLogs(folder)) {
            const auto old = before.find(name);
            const uint64_t from = old == before.end() ? 0 : old->second;
            std::string added;
            if (bytes <= from ||
                !SafeFile::ReadPlainFile(folder + u"\\" + name, from, kDeployMaxCapture, &added)) {
                continue;
            }
            Add("trace " + Utf8(name) + ":\n" + DecodeTraceLog(added));
        }
    }
    return {finished.started, finished.code};
}

std::string DeployRecord::Text() const {
    std::string out;
    out.reserve(text_.size() + text_.size() / 16);
    for (size_t i = 0; i < text_.size(); ++i) {
        if (text_[i] == '\n' && (i == 0 || text_[i - 1] != '\r')) {
            out += '\r';
        }
        out += text_[i];
    }
    return out;
}
