// The deploy program (InstallerDeploy.exe), which Deploy.cmd starts from the package's folder
// for this shell's architecture. It picks the programs of the machine's native architecture,
// runs them, and exits with a code deployment tools understand (DeployResult.h):
//
//   install (the default): InstallerCheck.exe plan (the pre-flight; /nocheck skips it), then
//     Installer.exe, then InstallerCheck.exe verify, all with the hardware ID and the INF;
//     /keep <folder> also keeps InstallerCheck.exe and the INF there for the detection command;
//   /uninstall [/force]: InstallerRemove.exe [--force]; /keep deletes what an install kept.
//
// Every run with a usable package appends one record to the deployment log (/log <file>, else
// InstallerDeploy.log in Intune's log folder, else in Configuration Manager's, else in
// <Windows>\Logs\Installer): when, where and as whom it ran, its command line and the
// architecture chosen, every program run with its output and exit code, the decoded trace, the
// deploy program's messages and the final code. The log never decides a deployment: a record
// that cannot be written whole costs one line on standard error.
#pragma once

#include <string>
#include <vector>

// Runs a deployment from the package folder `home` (the parent of this program's folder) with
// the arguments after the program's name; returns the exit code.
int RunDeploy(const std::u16string& home, const std::vector<std::u16string>& arguments);

// The package folder of the program at `programPath`: the parent of its folder.
std::u16string PackageHome(const std::u16string& programPath);
