@echo off
rem Deploy.cmd [/uninstall [/force]] [/keep <folder>] [/log <file>] <hardware ID> <INF path>
rem
rem Install (the default): runs the Installer.exe of this package that suits this Windows (x64\ on
rem 64-bit Windows, also from a 32-bit shell; x86\ on 32-bit Windows), then InstallerCheck.exe
rem verify with the same arguments. /uninstall: runs InstallerRemove.exe instead, which takes the
rem driver package off the machine and checks that it is gone (/force: even while a present
rem device uses it). Either way Deploy.cmd exits with a code deployment tools understand:
rem    0     done and verified
rem    3010  done, but a restart is needed to finish
rem    1603  not done, or the package or the /keep folder is unusable
rem    2     wrong command line, or no INF at the given path (nothing was run)
rem    3     the device state could not be read
rem    1633  not an x86 or x64 Windows (nothing was run)
rem The switches come before the two arguments, in any order. A relative INF path is taken from
rem the working folder.
rem
rem /keep <folder>: on install, also copies InstallerCheck.exe and the INF into <folder> and prints
rem the detection command to use later. The folder is made anew, owned by Administrators, with
rem access for SYSTEM and Administrators (full) and Users (read and execute) only: the detection
rem command runs from it as SYSTEM. On uninstall, deletes what an install kept there.
rem
rem Every run appends a record to the deployment log (DeployLog.exe): /log <file>, else
rem InstallerDeploy.log in Intune's log folder when there is one, else in Configuration Manager's,
rem else in %SystemRoot%\Logs\Installer. A log that cannot be written costs a line on stderr.
rem
rem Arguments are quoted wherever they are used and never passed through CALL, which would
rem expand them once more; delayed expansion stays off so that "!" is plain text. Programs are run
rem by their full path, and the working folder is not searched for programs: cmd.exe would
rem otherwise run a planted icacls.exe from there.
setlocal EnableExtensions DisableDelayedExpansion
set "NoDefaultCurrentDirectoryInExePath=1"
set "DEPLOY_SYSTEM=%SystemRoot%\System32"

rem Before any SHIFT: SHIFT moves %0 too.
set "DEPLOY_HOME=%~dp0"
set "DEPLOY_ACTION=install"
set "DEPLOY_FORCE="
set "DEPLOY_KEEP="
set "DEPLOY_LOG="

rem A 32-bit shell on 64-bit Windows sees x86 in PROCESSOR_ARCHITECTURE and the system's
rem architecture in PROCESSOR_ARCHITEW6432.
set "DEPLOY_ARCH=%PROCESSOR_ARCHITEW6432%"
if not defined DEPLOY_ARCH set "DEPLOY_ARCH=%PROCESSOR_ARCHITECTURE%"
set "DEPLOY_FOLDER="
if /i "%DEPLOY_ARCH%"=="AMD64" set "DEPLOY_FOLDER=x64"
if /i "%DEPLOY_ARCH%"=="x86" set "DEPLOY_FOLDER=x86"
if not defined DEPLOY_FOLDER goto :unsupported

set "DEPLOY_PROGRAMS=%DEPLOY_HOME%%DEPLOY_FOLDER%"
set "DEPLOY_LOGGER=%DEPLOY_PROGRAMS%\DeployLog.exe"
if not exist "%DEPLOY_PROGRAMS%\Installer.exe" goto :incomplete
if not exist "%DEPLOY_PROGRAMS%\InstallerCheck.exe" goto :incomplete
if not exist "%DEPLOY_PROGRAMS%\InstallerRemove.exe" goto :incomplete
if not exist "%DEPLOY_LOGGER%" goto :incomplete

:switches
if /i "%~1"=="/uninstall" goto :switch_uninstall
if /i "%~1"=="/force" goto :switch_force
if /i "%~1"=="/keep" goto :switch_keep
if /i "%~1"=="/log" goto :switch_log
goto :arguments
:switch_uninstall
set "DEPLOY_ACTION=uninstall"
shift
goto :switches
:switch_force
set "DEPLOY_FORCE=--force"
shift
goto :switches
:switch_keep
if .%2==. goto :usage
set "DEPLOY_KEEP=%~f2"
shift
shift
goto :switches
:switch_log
if .%2==. goto :usage
set "DEPLOY_LOG=%~f2"
shift
shift
goto :switches

:arguments
if .%1==. goto :usage
if .%2==. goto :usage
if not .%3==. goto :usage
set "DEPLOY_ID=%~1"
set "DEPLOY_INF=%~f2"
set "DEPLOY_INF_NAME=%~nx2"
if not defined DEPLOY_ID goto :usage
if "%~2"=="" goto :usage
if defined DEPLOY_FORCE if not "%DEPLOY_ACTION%"=="uninstall" goto :usage
set "DEPLOY_NEXT=check_inf"
goto :open_log

:check_inf
rem No wildcards: "if exist" would accept any file they match.
set "DEPLOY_CHECK=%DEPLOY_INF:**=%"
if not "%DEPLOY_CHECK%"=="%DEPLOY_INF%" goto :no_inf
set "DEPLOY_CHECK=%DEPLOY_INF:?=%"
if not "%DEPLOY_CHECK%"=="%DEPLOY_INF%" goto :no_inf
if not exist "%DEPLOY_INF%" goto :no_inf
if exist "%DEPLOY_INF%\*" goto :no_inf

if "%DEPLOY_ACTION%"=="uninstall" goto :uninstall
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
if errorlevel 1 "%DEPLOY_LOGGER%" "%DEPLOY_LOG%" say Deploy: could not copy TqDbgCfg.ini into \"%DEPLOY_PROGRAMS%\"; the trace keeps its settings there.

:run
rem Installer.exe exits with 0 whenever it runs; anything else means it did not.
"%DEPLOY_LOGGER%" "%DEPLOY_LOG%" run --trace "%DEPLOY_PROGRAMS%\Installer.exe" "%DEPLOY_ID%" "%DEPLOY_INF%"
if errorlevel 1 "%DEPLOY_LOGGER%" "%DEPLOY_LOG%" say Deploy: \"%DEPLOY_PROGRAMS%\Installer.exe\" did not run: code %errorlevel%; 740 means it needs administrator rights.
if not errorlevel 0 "%DEPLOY_LOGGER%" "%DEPLOY_LOG%" say Deploy: \"%DEPLOY_PROGRAMS%\Installer.exe\" did not run: code %errorlevel%.

"%DEPLOY_LOGGER%" "%DEPLOY_LOG%" run "%DEPLOY_PROGRAMS%\InstallerCheck.exe" verify "%DEPLOY_ID%" "%DEPLOY_INF%"
set "DEPLOY_RESULT=%errorlevel%"

if not defined DEPLOY_KEEP goto :result
if exist "%DEPLOY_PROGRAMS%\*.log" copy /y "%DEPLOY_PROGRAMS%\*.log" "%DEPLOY_KEEP%\" >nul
echo Detection command: "%DEPLOY_KEEP%\InstallerCheck.exe" verify --detect "%DEPLOY_ID%" "%DEPLOY_KEEP%\%DEPLOY_INF_NAME%"
goto :result

:uninstall
"%DEPLOY_LOGGER%" "%DEPLOY_LOG%" run "%DEPLOY_PROGRAMS%\InstallerRemove.exe" %DEPLOY_FORCE% "%DEPLOY_ID%" "%DEPLOY_INF%"
set "DEPLOY_RESULT=%errorlevel%"
if not defined DEPLOY_KEEP goto :result
rem What an install kept goes, and the folder with it when nothing else is in it. A link at the
rem path is left alone: deleting through it would delete someone else's files.
if "%DEPLOY_KEEP:~-1%"=="\" set "DEPLOY_KEEP=%DEPLOY_KEEP:~0,-1%"
if not exist "%DEPLOY_KEEP%" goto :result
for %%I in ("%DEPLOY_KEEP%") do set "DEPLOY_KEEP_ATTRIBUTES=%%~aI"
if "%DEPLOY_KEEP_ATTRIBUTES:~8,1%"=="l" goto :unkeep_link
if not "%DEPLOY_KEEP_ATTRIBUTES:~0,1%"=="d" goto :unkeep_left
del /f /q /a "%DEPLOY_KEEP%\InstallerCheck.exe" "%DEPLOY_KEEP%\%DEPLOY_INF_NAME%" "%DEPLOY_KEEP%\*.log" >nul 2>&1
rd "%DEPLOY_KEEP%" 2>nul
if exist "%DEPLOY_KEEP%" goto :unkeep_left
goto :result

:unkeep_link
"%DEPLOY_LOGGER%" "%DEPLOY_LOG%" say Deploy: \"%DEPLOY_KEEP%\" is a junction or symbolic link; nothing was deleted through it.
goto :result

:unkeep_left
"%DEPLOY_LOGGER%" "%DEPLOY_LOG%" say Deploy: \"%DEPLOY_KEEP%\" holds files Deploy did not put there, or could not be deleted; it was left in place.
goto :result

:result
rem InstallerCheck verify and InstallerRemove share their exit codes.
set "DEPLOY_CODE=1603"
if "%DEPLOY_RESULT%"=="0" set "DEPLOY_CODE=0"
if "%DEPLOY_RESULT%"=="4" set "DEPLOY_CODE=3010"
if "%DEPLOY_RESULT%"=="2" set "DEPLOY_CODE=2"
if "%DEPLOY_RESULT%"=="3" set "DEPLOY_CODE=3"
if "%DEPLOY_RESULT%"=="1" goto :finish
if "%DEPLOY_CODE%"=="1603" "%DEPLOY_LOGGER%" "%DEPLOY_LOG%" say Deploy: the last program ended with code %DEPLOY_RESULT%.
goto :finish

rem The log: /log <file>, else the folder of the deployment tool that collects logs, else ours.
rem Each can be written by administrators only; DeployLog.exe follows no link at the name. The
rem record starts with the command line as given, which SHIFT does not change; then on to
rem DEPLOY_NEXT.
:open_log
if defined DEPLOY_LOG goto :log_begin
if exist "%ProgramData%\Microsoft\IntuneManagementExtension\Logs\" set "DEPLOY_LOG=%ProgramData%\Microsoft\IntuneManagementExtension\Logs\InstallerDeploy.log"
if defined DEPLOY_LOG goto :log_begin
if exist "%SystemRoot%\CCM\Logs\" set "DEPLOY_LOG=%SystemRoot%\CCM\Logs\InstallerDeploy.log"
if defined DEPLOY_LOG goto :log_begin
set "DEPLOY_LOG=%SystemRoot%\Logs\Installer\InstallerDeploy.log"
if not exist "%SystemRoot%\Logs\Installer\" mkdir "%SystemRoot%\Logs\Installer" 2>nul
:log_begin
"%DEPLOY_LOGGER%" "%DEPLOY_LOG%" begin %DEPLOY_ACTION% %DEPLOY_FOLDER% %*
goto :%DEPLOY_NEXT%

:finish
"%DEPLOY_LOGGER%" "%DEPLOY_LOG%" end %DEPLOY_CODE%
exit /b %DEPLOY_CODE%

:usage
set "DEPLOY_NEXT=usage_text"
goto :open_log
:usage_text
"%DEPLOY_LOGGER%" "%DEPLOY_LOG%" say Usage: Deploy.cmd [/uninstall [/force]] [/keep ^<folder^>] [/log ^<file^>] ^<hardware ID^> ^<INF path^>
"%DEPLOY_LOGGER%" "%DEPLOY_LOG%" say Quote each argument, for example: Deploy.cmd \"USB\VID_1234&PID_5678\" \"C:\Drivers\device.inf\"
set "DEPLOY_CODE=2"
goto :finish

:no_inf
"%DEPLOY_LOGGER%" "%DEPLOY_LOG%" say Deploy: no INF file at \"%DEPLOY_INF%\"; nothing was run.
set "DEPLOY_CODE=2"
goto :finish

:unsupported
>&2 echo Deploy: this Windows runs on "%DEPLOY_ARCH%"; the package holds programs for x86 and x64 Windows only, so nothing was run.
exit /b 1633

:incomplete
>&2 echo Deploy: the package is incomplete: "%DEPLOY_PROGRAMS%" lacks Installer.exe, InstallerCheck.exe, InstallerRemove.exe or DeployLog.exe; nothing was run.
exit /b 1603

:keep_failed
"%DEPLOY_LOGGER%" "%DEPLOY_LOG%" say Deploy: could not copy InstallerCheck.exe and the INF into \"%DEPLOY_KEEP%\"; nothing was run.
set "DEPLOY_CODE=1603"
goto :finish

:keep_holds_inf
"%DEPLOY_LOGGER%" "%DEPLOY_LOG%" say Deploy: the INF is in the /keep folder \"%DEPLOY_KEEP%\", which Deploy empties and makes anew; give the INF from another folder. Nothing was run.
set "DEPLOY_CODE=2"
goto :finish

:keep_link
"%DEPLOY_LOGGER%" "%DEPLOY_LOG%" say Deploy: \"%DEPLOY_KEEP%\" is a junction or symbolic link, not a folder; nothing was copied or run.
set "DEPLOY_CODE=1603"
goto :finish

:keep_not_folder
"%DEPLOY_LOGGER%" "%DEPLOY_LOG%" say Deploy: \"%DEPLOY_KEEP%\" is a file, not a folder; nothing was copied or run.
set "DEPLOY_CODE=1603"
goto :finish

:keep_has_folders
"%DEPLOY_LOGGER%" "%DEPLOY_LOG%" say Deploy: \"%DEPLOY_KEEP%\" holds folders; /keep needs a folder of its own, which Deploy empties. Nothing was copied or run.
set "DEPLOY_CODE=1603"
goto :finish

:keep_not_cleared
"%DEPLOY_LOGGER%" "%DEPLOY_LOG%" say Deploy: could not empty \"%DEPLOY_KEEP%\" of files Deploy did not put there; nothing was copied or run.
set "DEPLOY_CODE=1603"
goto :finish

:keep_not_made
"%DEPLOY_LOGGER%" "%DEPLOY_LOG%" say Deploy: could not make the folder \"%DEPLOY_KEEP%\" anew; nothing was copied or run.
set "DEPLOY_CODE=1603"
goto :finish

:keep_not_secured
"%DEPLOY_LOGGER%" "%DEPLOY_LOG%" say Deploy: could not give \"%DEPLOY_KEEP%\" to Administrators with access for SYSTEM, Administrators and Users (read) only, using \"%DEPLOY_SYSTEM%\icacls.exe\"; nothing was copied or run.
set "DEPLOY_CODE=1603"
goto :finish
