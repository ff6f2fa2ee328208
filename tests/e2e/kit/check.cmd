@echo off
rem kavrel's end-to-end table on this Windows machine, from the check kit of
rem a release (see README.txt): each case lays out kavrel, an installation
rem record and the programs kavrel may start, runs kavrel.exe and
rem kavrel-explain.exe, and checks what they did. It changes the machine.
rem
rem   check [WIDTH] [DRIVE:]
rem
rem WIDTH x86, the default, runs the table with the x86 programs, kavrel as
rem it ships; x64 with the x64 ones; both with the one, then the other. DRIVE:
rem is a spare drive whose root a case may use; without it, the first free
rem letter from K: on is mapped with subst to a new folder for the run (under
rem Wine, whose subst maps nothing, give a drive of the prefix). The last
rem line is "N passed, M failed, K skipped" over the tables run (a case this
rem machine cannot run, such as one that needs an administrator's filtered
rem rights where UAC is off, is skipped); the exit code is 0 when none failed
rem and one passed, 1 when one failed, 2 when no table could run.
rem
rem Each folder the tables work in is made new for the run, writable only by
rem administrators and SYSTEM, and removed at the end; one that is there
rem already is refused, whatever it holds. Windows' own programs are started
rem by their full paths, also the command interpreter that runs pipes.
setlocal EnableExtensions
set "kit=%~dp0"
set "system=%SystemRoot%\System32"
set "COMSPEC=%SystemRoot%\System32\cmd.exe"
set "find=%SystemRoot%\System32\find.exe"
set "work=%SystemDrive%\kavrel-e2e"

set "widths="
if "%~1"=="" set "widths=x86"
if /i "%~1"=="x86" set "widths=x86"
if /i "%~1"=="x64" set "widths=x64"
if /i "%~1"=="both" set "widths=x86 x64"
if not defined widths goto usage
if not "%~3"=="" goto usage
set "drive=%~2"
if defined drive if not "%drive:~1%"==":" goto usage

"%system%\net.exe" session >nul 2>&1 && goto administrator
"%system%\fltmc.exe" >nul 2>&1 && goto administrator
echo check: this needs an administrator: start the Command Prompt with "Run as administrator".
exit /b 2
:administrator

rem Programs marked as downloaded make Windows ask before it starts them.
dir /r "%kit%x86\e2e_probe.exe" 2>nul | "%find%" ":Zone.Identifier" >nul || goto unmarked
echo check: the kit's files carry the mark of a download, and Windows would ask before
echo each case starts a program. Unblock the zip (its Properties, Unblock), then unpack
echo it again.
exit /b 2
:unmarked

set "spare=%SystemDrive%\kavrel-e2e-drive"
set "leftover="
if not defined drive if exist "%spare%" set "leftover=%spare%"
if exist "%work%" set "leftover=%work%"
if defined leftover goto leftover

echo This changes the machine: the record HKLM\Software\Merolt_01\Pimbalo, %work%.
set "mapped="
if defined drive set "spare="
if defined drive goto run
rem The drive folder is made by the driver, as it makes its work folder.
set "maker=%kit%x86\e2e_driver.exe"
if "%widths%"=="x64" set "maker=%kit%x64\e2e_driver.exe"
rem (Wine's cmd runs what follows || here even when the driver succeeded.)
"%maker%" --throwaway-machine folder "%spare%"
if errorlevel 1 exit /b 2
echo made by the kavrel check kit>"%spare%\kavrel-check-drive.txt"
for %%L in (K L M N O P Q R S T U V W X Y Z) do call :map %%L
del "%spare%\kavrel-check-drive.txt" 2>nul
if defined drive goto run
rd "%spare%" 2>nul
echo check: no free drive letter could be mapped to %spare% with subst;
echo give a spare drive instead, as in: check x86 K:
exit /b 2

:leftover
echo check: %leftover% is there already, left by an earlier run or made by someone
echo else. The check works only in folders it makes new, whatever such a folder
echo holds: remove it, then run again.
exit /b 2

:run
set /a passed=0, failed=0, skipped=0
for %%W in (%widths%) do call :table %%W
if defined mapped "%system%\subst.exe" %mapped% /d >nul 2>&1
if defined spare rd "%spare%" 2>nul
if defined spare if exist "%spare%" echo check: %spare% is not empty; remove it before the next run
echo %passed% passed, %failed% failed, %skipped% skipped
if %failed% gtr 0 exit /b 1
if %passed% equ 0 exit /b 2
exit /b 0

rem :map LETTER maps LETTER: to the spare folder, if it is free and the
rem mapping shows the folder's mark.
:map
if defined drive exit /b 0
"%system%\subst.exe" %1: "%spare%" >nul 2>&1 || exit /b 0
if exist %1:\kavrel-check-drive.txt goto mapped
"%system%\subst.exe" %1: /d >nul 2>&1
exit /b 0
:mapped
set "drive=%1:"
set "mapped=%1:"
exit /b 0

rem :table WIDTH runs the table with the programs of that width and adds
rem its last line to the sums.
:table
if /i "%1"=="x64" if /i "%PROCESSOR_ARCHITECTURE%"=="x86" if not defined PROCESSOR_ARCHITEW6432 goto table_skipped
set "log=%TEMP%\kavrel-check-%1.txt"
echo %1: the table runs, for a minute or two; its lines follow, and stay in %log%
"%kit%%1\e2e_driver.exe" --throwaway-machine run "%kit%%1\kavrel.exe" "%work%" %drive% "%kit%installation-record.reg" >"%log%" 2>&1
type "%log%"
rem Only the lines that may be the last one are parsed: a case's name may
rem hold quotes. "N passed, M failed" may be followed by ", K skipped".
set "summary="
for /f "tokens=1-7" %%a in ('type "%log%" ^| "%find%" " passed, "') do (
  if "%%b %%d %%e"=="passed, failed " set "summary=%%a %%c 0"
  if "%%b %%d %%f %%g"=="passed, failed, skipped " set "summary=%%a %%c %%e"
)
if not defined summary goto table_unfinished
for /f "tokens=1-3" %%a in ("%summary%") do set /a passed+=%%a, failed+=%%b, skipped+=%%c
exit /b 0
:table_unfinished
echo FAIL %1: the driver ended before its last line
set /a failed+=1
exit /b 0
:table_skipped
echo skipped x64: this Windows is 32-bit
exit /b 0

:usage
echo usage: check [x86 ^| x64 ^| both] [DRIVE:]
exit /b 2
