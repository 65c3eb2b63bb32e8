#include "CommandLine.h"

#include <algorithm>

#include "Json.h"

bool IsHelpRequest(const std::vector<std::u16string>& arguments) {
    return arguments.size() == 1 && (arguments[0] == u"--help" || arguments[0] == u"-h" ||
                                     arguments[0] == u"/?" || arguments[0] == u"help");
}

bool ParseOptions(const std::vector<std::u16string>& arguments, size_t first,
                  std::initializer_list<OptionSpec> known, const std::u16string& context,
                  std::vector<std::u16string>* options, std::vector<std::u16string>* operands,
                  std::u16string* problem) {
    std::vector<const OptionSpec*> given;
    size_t next = first;
    for (; next < arguments.size() && arguments[next].starts_with(u"--"); ++next) {
        const std::u16string& option = arguments[next];
        if (option == u"--") {
            ++next;
            break;
        }
        const OptionSpec* spec = nullptr;
        for (const OptionSpec& candidate : known) {
            spec = option == candidate.name ? &candidate : spec;
        }
        if (spec == nullptr) {
            *problem = u"unknown option " + JsonString(option) +
                       (context.empty() ? std::u16string() : u" " + context);
            return false;
        }
        for (const OptionSpec* earlier : given) {
            if (earlier == spec) {
                *problem = option + u" is given twice";
                return false;
            }
            if (spec->group != 0 && earlier->group == spec->group) {
                *problem =
                    std::u16string(earlier->name) + u" and " + option + u" exclude each other";
                return false;
            }
        }
        given.push_back(spec);
        options->push_back(option);
    }
    operands->assign(arguments.begin() + static_cast<std::ptrdiff_t>(next), arguments.end());
    return true;
}

bool HasOption(const std::vector<std::u16string>& options, const char16_t* name) {
    return std::find(options.begin(), options.end(), name) != options.end();
}

CommandResult UsageError(const CommandSpec& spec, const std::u16string& problem) {
    return Refusal(spec, kExitUsage, problem);
}

CommandResult Refusal(const CommandSpec& spec, int code, const std::u16string& problem) {
    std::u16string err = std::u16string(spec.name) + u": " + problem + u"\n";
    if (code == kExitUsage) {
        err += spec.usage;
    }
    return {code, {}, err};
}
