// Linux entry: UTF-8 arguments.
#include <string>
#include <vector>

#include "DecodeCommand.h"
#include "Utf8.h"

int main(int argc, char** argv) {
    std::vector<std::u16string> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.push_back(Text::Utf8ToUtf16(argv[i]));
    }
    return RunTraceLogDecode(arguments);
}
