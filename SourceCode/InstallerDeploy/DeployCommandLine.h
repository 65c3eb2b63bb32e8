// The deploy program's command line, as Deploy.cmd passes it on (%*):
//
//   Deploy.cmd [/uninstall [/force]] [/keep <folder>] [/log <file>] [/nocheck]
//              [/trustpublisher <thumbprint>] <hardware ID> <INF path>
//
// and the quoting of the command lines it starts and records.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// An argument quoted as Windows programs read their command line (CommandLineToArgvW): as it is
// when it needs no quotes, otherwise in double quotes with embedded quotes and the backslashes
// before them escaped.
std::u16string QuoteArgument(const std::u16string& argument);
// The words quoted one by one and joined by spaces.
std::u16string QuotedLine(const std::vector<std::u16string>& words);

// The arguments of a command line as a batch file sees %1, %2...: the program's own name is
// skipped first (up to the closing quote when it starts with one, else up to a blank); then the
// words are separated by blanks, commas, semicolons and equals signs outside double quotes.
// Quotes group and are removed, and a backslash is a plain character, so "C:\dir\" is C:\dir\.
// A word of quotes only ("") is an empty argument.
std::vector<std::u16string> BatchArguments(std::u16string_view commandLine);

struct DeployRequest {
    bool complete = false; // false: a wrong command line (the rest is what was read up to it)
    bool uninstall = false;
    bool force = false;
    bool noCheck = false;
    std::u16string keep;           // as given
    std::u16string log;            // as given
    std::u16string trustPublisher; // the thumbprint as given; empty: no /trustpublisher
    std::u16string id;
    std::u16string inf; // as given
};
// The switches (in any case and order, before the two arguments), then exactly a hardware ID and
// an INF path, neither empty; /force only with /uninstall, /trustpublisher only without it;
// /keep, /log and /trustpublisher each with a value that is not empty.
DeployRequest ParseDeployArguments(const std::vector<std::u16string>& arguments);
