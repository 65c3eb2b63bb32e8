// The program's entry: starts the trace, checks the command line, starts the application
// framework and runs the installation. Always returns 0.
#pragma once

namespace Installer {

// `argv` holds `argc` wide arguments, the program name first.
int _tmain(int argc, const char16_t* const* argv);

} // namespace Installer
