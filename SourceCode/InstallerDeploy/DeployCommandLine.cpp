#include "DeployCommandLine.h"

#include "AsciiCase.h"

namespace {

bool IsBatchDelimiter(char16_t c) {
    return c == u' ' || c == u'\t' || c == u',' || c == u';' || c == u'=' || c == u'\v' ||
           c == u'\f';
}

bool IsSwitch(const std::u16string& word, std::u16string_view name) {
    return EqualIgnoringAsciiCase(word, name);
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

std::u16string QuotedLine(const std::vector<std::u16string>& words) {
    std::u16string line;
    for (const std::u16string& word : words) {
        if (!line.empty()) {
            line += u' ';
        }
        line += QuoteArgument(word);
    }
    return line;
}

std::vector<std::u16string> BatchArguments(std::u16string_view commandLine) {
    size_t at = 0;
    if (!commandLine.empty() && commandLine[0] == u'"') {
        const size_t close = commandLine.find(u'"', 1);
        at = close == std::u16string_view::npos ? commandLine.size() : close + 1;
    }
    while (at < commandLine.size() && commandLine[at] != u' ' && commandLine[at] != u'\t') {
        ++at;
    }
    std::vector<std::u16string> words;
    while (at < commandLine.size()) {
        if (IsBatchDelimiter(commandLine[at])) {
            ++at;
            continue;
        }
        std::u16string word;
        bool quoted = false;
        for (; at < commandLine.size() && (quoted || !IsBatchDelimiter(commandLine[at])); ++at) {
            if (commandLine[at] == u'"') {
                quoted = !quoted;
            } else {
                word += commandLine[at];
            }
        }
        words.push_back(std::move(word));
    }
    return words;
}

DeployRequest ParseDeployArguments(const std::vector<std::u16string>& arguments) {
    DeployRequest request;
    size_t at = 0;
    for (; at < arguments.size(); ++at) {
        const std::u16string& word = arguments[at];
        if (IsSwitch(word, u"/uninstall")) {
            request.uninstall = true;
        } else if (IsSwitch(word, u"/force")) {
            request.force = true;
        } else if (IsSwitch(word, u"/nocheck")) {
            request.noCheck = true;
        } else if (IsSwitch(word, u"/keep") || IsSwitch(word, u"/log") ||
                   IsSwitch(word, u"/trustpublisher")) {
            // An empty value (an unset variable in the deployment tool's command) is no folder,
            // file or thumbprint: dropping the switch would deploy without what it asks for.
            if (at + 1 >= arguments.size() || arguments[at + 1].empty()) {
                return request;
            }
            (IsSwitch(word, u"/keep")  ? request.keep
             : IsSwitch(word, u"/log") ? request.log
                                       : request.trustPublisher) = arguments[++at];
        } else {
            break;
        }
    }
    if (arguments.size() - at != 2 || arguments[at].empty() || arguments[at + 1].empty() ||
        (request.force && !request.uninstall) ||
        (!request.trustPublisher.empty() && request.uninstall)) {
        return request;
    }
    request.id = arguments[at];
    request.inf = arguments[at + 1];
    request.complete = true;
    return request;
}
