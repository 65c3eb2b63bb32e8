// Linux entry: the UTF-8 arguments become the UTF-16 arguments the program works with.
#include <string>
#include <vector>

#include "Entry.h"
#include "Utf8.h"

int main(int argc, char** argv) {
    std::vector<std::u16string> arguments;
    for (int i = 0; i < argc; ++i) {
        arguments.push_back(Text::Utf8ToUtf16(argv[i]));
    }
    std::vector<const char16_t*> pointers;
    for (const std::u16string& argument : arguments) {
        pointers.push_back(argument.c_str());
    }
    pointers.push_back(nullptr);
    return Installer::_tmain(argc, pointers.data());
}
