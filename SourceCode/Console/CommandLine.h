// The command lines of the companions: leading "--" options, then operands, and the texts of a
// wrong one.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

#include "CommandResult.h"

// What a program says of itself in its messages: "<name>: <problem>", and its usage text.
struct CommandSpec {
    const char16_t* name;
    const char16_t* usage;
};

// An option a command takes. Options with the same non-zero `group` exclude each other.
struct OptionSpec {
    const char16_t* name;
    int group = 0;
};

// True for the one argument "--help", "-h", "/?" or "help".
bool IsHelpRequest(const std::vector<std::u16string>& arguments);

// Reads the options from `arguments[first]` on: arguments that begin with "--", each one of
// `known` and given once, none with another of its group, up to the first other argument or past
// "--". The options given land in `options`, the rest in `operands`. False, with `problem`,
// otherwise; `context` ("for plan") is named with an unknown option.
bool ParseOptions(const std::vector<std::u16string>& arguments, size_t first,
                  std::initializer_list<OptionSpec> known, const std::u16string& context,
                  std::vector<std::u16string>* options, std::vector<std::u16string>* operands,
                  std::u16string* problem);

bool HasOption(const std::vector<std::u16string>& options, const char16_t* name);

// Exit 2 with "<name>: <problem>" and the usage on standard error.
CommandResult UsageError(const CommandSpec& spec, const std::u16string& problem);
// Exit `code` with "<name>: <problem>" on standard error; the usage follows for kExitUsage.
CommandResult Refusal(const CommandSpec& spec, int code, const std::u16string& problem);
