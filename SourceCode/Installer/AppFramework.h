// A small application framework of our own: one global application object and the start-up
// routine that the entry calls before the installation runs.
#pragma once

// The framework's plain application class. The program adds nothing to it.
class AppObject {
  public:
    void* instance = nullptr;
    const char16_t* commandLine = nullptr;
    int showCommand = 0;
    bool started = false;
};

// The one application object, created before the entry runs.
extern AppObject theApp;

// Records the module instance, the full command line and the show command in `theApp`.
// Fails when there is no command line or the framework has already started.
bool AppFrameworkInit(void* instance, void* previousInstance, const char16_t* commandLine,
                      int showCommand);

// Takes the process's module instance and full command line from the platform and starts the
// framework with no previous instance and show command 0.
bool AppFrameworkStart();
