@echo off
rem Deploy.cmd [/uninstall [/force]] [/keep <folder>] [/log <file>] [/nocheck] [/trustpublisher <thumbprint>] <hardware ID> <INF path>
rem
rem Starts the deploy program of this package that this shell can run (x86\, x64\ or arm64\
rem InstallerDeploy.exe, by PROCESSOR_ARCHITECTURE), passes every argument on as it was given,
rem and exits with its code. The deploy program does the work: it finds the machine's native
rem architecture itself (an x86 shell on 64-bit Windows gets the x64 programs), checks the
rem package before it installs (/nocheck skips that; /trustpublisher first trusts the catalog's
rem signer when its thumbprint is the one given and its signature and chain hold), runs Installer.exe and InstallerCheck.exe
rem verify, or InstallerRemove.exe with /uninstall, keeps the /keep folder and writes the
rem deployment log. Its exit codes:
rem    0     done and verified
rem    3010  done, but a restart is needed to finish
rem    1603  not done, or the package or the /keep folder is unusable
rem    2     wrong command line, or no INF at the given path (nothing was run)
rem    3     the device state could not be read
rem    1633  not an architecture the package holds programs for (nothing was run)
rem See README.txt. Programs are run by their full path, and the working folder is not searched
rem for programs. Delayed expansion stays off so that "!" in an argument is plain text.
setlocal EnableExtensions DisableDelayedExpansion
set "NoDefaultCurrentDirectoryInExePath=1"
set "DEPLOY_HOME=%~dp0"
set "DEPLOY_FOLDER="
if /i "%PROCESSOR_ARCHITECTURE%"=="x86" set "DEPLOY_FOLDER=x86"
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" set "DEPLOY_FOLDER=x64"
if /i "%PROCESSOR_ARCHITECTURE%"=="ARM64" if exist "%DEPLOY_HOME%arm64\" set "DEPLOY_FOLDER=arm64"
if not defined DEPLOY_FOLDER goto :unsupported
if not exist "%DEPLOY_HOME%%DEPLOY_FOLDER%\InstallerDeploy.exe" goto :incomplete
"%DEPLOY_HOME%%DEPLOY_FOLDER%\InstallerDeploy.exe" %*
exit /b %errorlevel%

:unsupported
set "DEPLOY_HELD=x86 and x64"
if exist "%DEPLOY_HOME%arm64\" set "DEPLOY_HELD=x86, x64 and ARM64"
>&2 echo Deploy: this Windows runs on "%PROCESSOR_ARCHITECTURE%"; the package holds programs for %DEPLOY_HELD% Windows only, so nothing was run.
exit /b 1633

:incomplete
>&2 echo Deploy: the package is incomplete: "%DEPLOY_HOME%%DEPLOY_FOLDER%" lacks InstallerDeploy.exe; nothing was run.
exit /b 1603
