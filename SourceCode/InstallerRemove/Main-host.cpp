// Linux entry: UTF-8 arguments.
#include "ConsoleProgram.h"
#include "RemoveCommand.h"

int main(int argc, char** argv) {
    return RunConsoleProgram(argc, argv, RunRemove);
}
