// Linux entry: UTF-8 arguments.
#include "CheckCommand.h"
#include "ConsoleProgram.h"

int main(int argc, char** argv) {
    return RunConsoleProgram(argc, argv, RunCheck);
}
