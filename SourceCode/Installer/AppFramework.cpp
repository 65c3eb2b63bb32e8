#include "AppFramework.h"

AppObject theApp;

bool AppFrameworkInit(void* instance, void* previousInstance, const char16_t* commandLine,
                      int showCommand) {
    (void)previousInstance;
    if (commandLine == nullptr || theApp.started) {
        return false;
    }
    theApp.instance = instance;
    theApp.commandLine = commandLine;
    theApp.showCommand = showCommand;
    theApp.started = true;
    return true;
}
