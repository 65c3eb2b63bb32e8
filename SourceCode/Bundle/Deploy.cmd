@echo off
rem Deploy.cmd [/keep <folder>] <hardware ID> <INF path>
rem
rem Runs the Installer.exe of this package that suits this Windows (x64\ on 64-bit Windows, also
rem from a 32-bit shell; x86\ on 32-bit Windows), then InstallerCheck.exe verify with the same
rem arguments, and exits with a code deployment tools understand:
rem    0     verified: the machine is in the state a successful installation leaves
rem    1603  not verified, or the package or the /keep folder is unusable
rem    2     wrong command line, or no INF at the given path (nothing was run)
rem    3     the device state could not be read
rem    1633  not an x86 or x64 Windows (nothing was run)
rem A relative INF path is taken from the working folder. /keep <folder> also copies
rem InstallerCheck.exe and the INF into <folder> and prints the detection command to use later.
rem The folder is made anew, owned by Administrators, with access for SYSTEM and Administrators
rem (full) and Users (read and execute) only: the detection command runs from it as SYSTEM.
rem
rem Arguments are quoted wherever they are used and never passed through CALL, which would
rem expand them once more; delayed expansion stays off so that "!" is plain text. System tools
rem are run by their full path, and the working folder is not searched for programs: cmd.exe
rem would otherwise run a planted icacls.exe from there.
setlocal EnableExtensions DisableDelayedExpansion
set "NoDefaultCurrentDirectoryInExePath=1"
set "DEPLOY_SYSTEM=%SystemRoot%\System32"

rem Before any SHIFT: SHIFT moves %0 too.
set "DEPLOY_HOME=%~dp0"
set "DEPLOY_KEEP="

if /i not "%~1"=="/keep" goto :arguments
if .%2==. goto :usage
set "DEPLOY_KEEP=%~f2"
shift
shift
:arguments
if .%1==. goto :usage
if .%2==. goto :usage
if not .%3==. goto :usage
set "DEPLOY_ID=%~1"
set "DEPLOY_INF=%~f2"
set "DEPLOY_INF_NAME=%~nx2"
if not defined DEPLOY_ID goto :usage
if "%~2"=="" goto :usage

rem No wildcards: "if exist" would accept any file they match.
set "DEPLOY_CHECK=%DEPLOY_INF:**=%"
if not "%DEPLOY_CHECK%"=="%DEPLOY_INF%" goto :no_inf
set "DEPLOY_CHECK=%DEPLOY_INF:?=%"
if not "%DEPLOY_CHECK%"=="%DEPLOY_INF%" goto :no_inf
if not exist "%DEPLOY_INF%" goto :no_inf
if exist "%DEPLOY_INF%\*" goto :no_inf

rem A 32-bit shell on 64-bit Windows sees x86 in PROCESSOR_ARCHITECTURE and the system's
rem architecture in PROCESSOR_ARCHITEW6432.
set "DEPLOY_ARCH=%PROCESSOR_ARCHITEW6432%"
if not defined DEPLOY_ARCH set "DEPLOY_ARCH=%PROCESSOR_ARCHITECTURE%"
set "DEPLOY_FOLDER="
if /i "%DEPLOY_ARCH%"=="AMD64" set "DEPLOY_FOLDER=x64"
if /i "%DEPLOY_ARCH%"=="x86" set "DEPLOY_FOLDER=x86"
if not defined DEPLOY_FOLDER goto :unsupported

set "DEPLOY_PROGRAMS=%DEPLOY_HOME%%DEPLOY_FOLDER%"
if not exist "%DEPLOY_PROGRAMS%\Installer.exe" goto :incomplete
if not exist "%DEPLOY_PROGRAMS%\InstallerCheck.exe" goto :incomplete

if not defined DEPLOY_KEEP goto :install
if "%DEPLOY_KEEP:~-1%"=="\" set "DEPLOY_KEEP=%DEPLOY_KEEP:~0,-1%"
rem The folder is emptied and made anew: it can hold neither the INF nor anything but files.
if /i "%DEPLOY_KEEP%\%DEPLOY_INF_NAME%"=="%DEPLOY_INF%" goto :keep_holds_inf
if not exist "%DEPLOY_KEEP%" goto :keep_make
rem The ninth attribute letter is l for a junction, symbolic link or other reparse point.
for %%I in ("%DEPLOY_KEEP%") do set "DEPLOY_KEEP_ATTRIBUTES=%%~aI"
if "%DEPLOY_KEEP_ATTRIBUTES:~8,1%"=="l" goto :keep_link
if not "%DEPLOY_KEEP_ATTRIBUTES:~0,1%"=="d" goto :keep_not_folder
set "DEPLOY_FOUND="
for /f "delims=" %%E in ('dir /a:d /b "%DEPLOY_KEEP%" 2^>nul') do set "DEPLOY_FOUND=%%E"
if defined DEPLOY_FOUND goto :keep_has_folders
rem Files only: deleting one deletes that name, never what a link leads to.
del /f /q /a "%DEPLOY_KEEP%\*" >nul 2>&1
rd "%DEPLOY_KEEP%" 2>nul
if exist "%DEPLOY_KEEP%" goto :keep_not_cleared
:keep_make
rem A folder that exists already, made meanwhile by someone else, makes mkdir fail.
mkdir "%DEPLOY_KEEP%" 2>nul
if errorlevel 1 goto :keep_not_made
if not exist "%DEPLOY_SYSTEM%\icacls.exe" goto :keep_not_secured
"%DEPLOY_SYSTEM%\icacls.exe" "%DEPLOY_KEEP%" /inheritance:r /grant:r *S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX >nul
if errorlevel 1 goto :keep_not_secured
"%DEPLOY_SYSTEM%\icacls.exe" "%DEPLOY_KEEP%" /setowner *S-1-5-32-544 >nul
if errorlevel 1 goto :keep_not_secured
rem Until the access list was set the folder had its parent's: what came in meanwhile goes.
del /f /q /a "%DEPLOY_KEEP%\*" >nul 2>&1
set "DEPLOY_FOUND="
for /f "delims=" %%E in ('dir /a /b "%DEPLOY_KEEP%" 2^>nul') do set "DEPLOY_FOUND=%%E"
if defined DEPLOY_FOUND goto :keep_not_cleared
copy /y "%DEPLOY_PROGRAMS%\InstallerCheck.exe" "%DEPLOY_KEEP%\InstallerCheck.exe" >nul
if errorlevel 1 goto :keep_failed
copy /y "%DEPLOY_INF%" "%DEPLOY_KEEP%\%DEPLOY_INF_NAME%" >nul
if errorlevel 1 goto :keep_failed

:install
rem The program reads its trace settings beside itself: the package's file applies to it.
if not exist "%DEPLOY_HOME%TqDbgCfg.ini" goto :run
copy /y "%DEPLOY_HOME%TqDbgCfg.ini" "%DEPLOY_PROGRAMS%\TqDbgCfg.ini" >nul 2>&1
if errorlevel 1 >&2 echo Deploy: could not copy TqDbgCfg.ini into "%DEPLOY_PROGRAMS%"; the trace keeps its settings there.

:run
rem Installer.exe exits with 0 whenever it runs; anything else means it did not.
"%DEPLOY_PROGRAMS%\Installer.exe" "%DEPLOY_ID%" "%DEPLOY_INF%"
if errorlevel 1 >&2 echo Deploy: "%DEPLOY_PROGRAMS%\Installer.exe" did not run: code %errorlevel%; 740 means it needs administrator rights.
if not errorlevel 0 >&2 echo Deploy: "%DEPLOY_PROGRAMS%\Installer.exe" did not run: code %errorlevel%.

"%DEPLOY_PROGRAMS%\InstallerCheck.exe" verify "%DEPLOY_ID%" "%DEPLOY_INF%"
set "DEPLOY_RESULT=%errorlevel%"

if not defined DEPLOY_KEEP goto :result
if exist "%DEPLOY_PROGRAMS%\*.log" copy /y "%DEPLOY_PROGRAMS%\*.log" "%DEPLOY_KEEP%\" >nul
echo Detection command: "%DEPLOY_KEEP%\InstallerCheck.exe" verify --detect "%DEPLOY_ID%" "%DEPLOY_KEEP%\%DEPLOY_INF_NAME%"

:result
if "%DEPLOY_RESULT%"=="0" exit /b 0
if "%DEPLOY_RESULT%"=="1" exit /b 1603
if "%DEPLOY_RESULT%"=="2" exit /b 2
if "%DEPLOY_RESULT%"=="3" exit /b 3
>&2 echo Deploy: InstallerCheck.exe ended with code %DEPLOY_RESULT%.
exit /b 1603

:usage
>&2 echo Usage: Deploy.cmd [/keep ^<folder^>] ^<hardware ID^> ^<INF path^>
>&2 echo Quote each argument, for example:
>&2 echo     Deploy.cmd "USB\VID_1234&PID_5678" "C:\Drivers\device.inf"
exit /b 2

:no_inf
>&2 echo Deploy: no INF file at "%DEPLOY_INF%"; nothing was run.
exit /b 2

:unsupported
>&2 echo Deploy: this Windows runs on "%DEPLOY_ARCH%"; the package holds programs for x86 and x64 Windows only, so nothing was run.
exit /b 1633

:incomplete
>&2 echo Deploy: the package is incomplete: "%DEPLOY_PROGRAMS%" lacks Installer.exe or InstallerCheck.exe; nothing was run.
exit /b 1603

:keep_failed
>&2 echo Deploy: could not copy InstallerCheck.exe and the INF into "%DEPLOY_KEEP%"; nothing was run.
exit /b 1603

:keep_holds_inf
>&2 echo Deploy: the INF is in the /keep folder "%DEPLOY_KEEP%", which Deploy empties and makes anew; give the INF from another folder. Nothing was run.
exit /b 2

:keep_link
>&2 echo Deploy: "%DEPLOY_KEEP%" is a junction or symbolic link, not a folder; nothing was copied or run.
exit /b 1603

:keep_not_folder
>&2 echo Deploy: "%DEPLOY_KEEP%" is a file, not a folder; nothing was copied or run.
exit /b 1603

:keep_has_folders
>&2 echo Deploy: "%DEPLOY_KEEP%" holds folders; /keep needs a folder of its own, which Deploy empties. Nothing was copied or run.
exit /b 1603

:keep_not_cleared
>&2 echo Deploy: could not empty "%DEPLOY_KEEP%" of files Deploy did not put there; nothing was copied or run.
exit /b 1603

:keep_not_made
>&2 echo Deploy: could not make the folder "%DEPLOY_KEEP%" anew; nothing was copied or run.
exit /b 1603

:keep_not_secured
>&2 echo Deploy: could not give "%DEPLOY_KEEP%" to Administrators with access for SYSTEM, Administrators and Users (read) only, using "%DEPLOY_SYSTEM%\icacls.exe"; nothing was copied or run.
exit /b 1603
