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
rem
rem   check sandbox [NEW-FOLDER]
rem
rem runs both tables in a new Windows Sandbox instead, with no administrator
rem rights needed here, and ends with the exit code of the run there (see
rem :sandbox at the end).
setlocal EnableExtensions
set "kit=%~dp0"
set "system=%SystemRoot%\System32"
set "COMSPEC=%SystemRoot%\System32\cmd.exe"
set "find=%SystemRoot%\System32\find.exe"
set "work=%SystemDrive%\kavrel-e2e"
if /i "%~1"=="sandbox" goto sandbox
if /i "%~1"=="sandbox-table" goto sandbox_table

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
echo        check sandbox [NEW-FOLDER]
exit /b 2

rem check sandbox [NEW-FOLDER] runs both tables in a new Windows Sandbox and
rem needs no administrator here. It makes NEW-FOLDER (by default
rem %USERPROFILE%\kavrel-check-sandbox; refused if it exists), writes the
rem Sandbox's configuration there, kavrel-check.wsb, and starts the Sandbox
rem with it: this kit's folder is mapped read-only to C:\kavrel-check\kit,
rem NEW-FOLDER writable to C:\kavrel-check\result, without network. At logon
rem the Sandbox runs "check sandbox-table", which writes started.txt, the
rem lines of "check both" to table.txt and last its exit code to
rem exit-code.txt, then shuts the Sandbox down, which discards it. This side
rem waits for exit-code.txt, prints table.txt and ends with that code. It
rem changes nothing here but NEW-FOLDER.
:sandbox
if not "%~3"=="" goto usage
set "sb_kit=%~dp0"
set "sb_kit=%sb_kit:~0,-1%"
set "sb_result=%~2"
if not defined sb_result set "sb_result=%USERPROFILE%\kavrel-check-sandbox"
for %%F in ("%sb_result%") do set "sb_result=%%~fF"
rem An "&", "!" or "^" would not survive the lines below whole.
if not "%sb_kit:&=%%sb_result:&=%"=="%sb_kit%%sb_result%" goto sandbox_path
if not "%sb_kit:!=%%sb_result:!=%"=="%sb_kit%%sb_result%" goto sandbox_path
if not "%sb_kit:^=%%sb_result:^=%"=="%sb_kit%%sb_result%" goto sandbox_path
if exist "%sb_result%" goto sandbox_exists
set "sb_exe=%SystemRoot%\System32\WindowsSandbox.exe"
rem From a 32-bit Command Prompt, System32 shows the 32-bit programs.
if exist "%SystemRoot%\Sysnative\WindowsSandbox.exe" set "sb_exe=%SystemRoot%\Sysnative\WindowsSandbox.exe"
if not exist "%sb_exe%" goto sandbox_missing
rem The Sandbox would stop at the mark of a download as a run here would.
rem (Wine's cmd takes the status of "a | b" and of "a 2>nul" wrong for "&&" and
rem "||": the forms below read the same under both.)
dir /r "%sb_kit%\x86\e2e_probe.exe" 2>nul | "%find%" ":Zone.Identifier" >nul || goto sandbox_unmarked
goto sandbox_marked
:sandbox_unmarked
mkdir "%sb_result%" 2>nul
if not exist "%sb_result%\" goto sandbox_unmade
rem One line at a time, no block: a ")" in a path would end a block.
set "sb_wsb=%sb_result%\kavrel-check.wsb"
>"%sb_wsb%" echo ^<Configuration^>
>>"%sb_wsb%" echo   ^<Networking^>Disable^</Networking^>
>>"%sb_wsb%" echo   ^<MappedFolders^>
>>"%sb_wsb%" echo     ^<MappedFolder^>
>>"%sb_wsb%" echo       ^<HostFolder^>%sb_kit%^</HostFolder^>
>>"%sb_wsb%" echo       ^<SandboxFolder^>C:\kavrel-check\kit^</SandboxFolder^>
>>"%sb_wsb%" echo       ^<ReadOnly^>true^</ReadOnly^>
>>"%sb_wsb%" echo     ^</MappedFolder^>
>>"%sb_wsb%" echo     ^<MappedFolder^>
>>"%sb_wsb%" echo       ^<HostFolder^>%sb_result%^</HostFolder^>
>>"%sb_wsb%" echo       ^<SandboxFolder^>C:\kavrel-check\result^</SandboxFolder^>
>>"%sb_wsb%" echo       ^<ReadOnly^>false^</ReadOnly^>
>>"%sb_wsb%" echo     ^</MappedFolder^>
>>"%sb_wsb%" echo   ^</MappedFolders^>
>>"%sb_wsb%" echo   ^<LogonCommand^>
>>"%sb_wsb%" echo     ^<Command^>C:\Windows\System32\cmd.exe /d /c C:\kavrel-check\kit\check.cmd sandbox-table^</Command^>
>>"%sb_wsb%" echo   ^</LogonCommand^>
>>"%sb_wsb%" echo ^</Configuration^>
if not exist "%sb_wsb%" goto sandbox_unmade
echo check: a new Windows Sandbox runs both tables, for a few minutes; their lines
echo follow when they end, and stay in %sb_result%\table.txt
start "" "%sb_exe%" "%sb_wsb%"
rem Bounds: the table must have started within 5 minutes, and ended within 30.
set /a sb_waited=0
:sandbox_wait
if exist "%sb_result%\exit-code.txt" goto sandbox_done
if %sb_waited% geq 300 if not exist "%sb_result%\started.txt" goto sandbox_unstarted
if %sb_waited% geq 1800 goto sandbox_unfinished
"%SystemRoot%\System32\PING.EXE" -n 6 127.0.0.1 >nul
set /a sb_waited+=5
goto sandbox_wait
:sandbox_done
echo check: the Sandbox shuts itself down when the table ends; if its window stays, close it
type "%sb_result%\table.txt"
set "sb_code="
set /p sb_code=<"%sb_result%\exit-code.txt"
if "%sb_code%"=="0" exit /b 0
if "%sb_code%"=="1" exit /b 1
if "%sb_code%"=="2" exit /b 2
echo check: the Sandbox's exit code is not one the command gives: "%sb_code%"
exit /b 1
:sandbox_exists
echo check: %sb_result% exists; the results go into a new folder: remove it, or name
echo a new one, as in: check sandbox %USERPROFILE%\kavrel-check-sandbox-2
exit /b 2
:sandbox_missing
echo check: Windows Sandbox is missing or not enabled on this Windows (no %sb_exe%).
echo It is the optional feature "Windows Sandbox" (Containers-DisposableClientVM), on
echo Windows 10 and 11 Pro, Enterprise and Education with virtualization enabled. To
echo enable it: Start, "Turn Windows features on or off", tick "Windows Sandbox", OK,
echo and restart; or, in a PowerShell started as administrator:
echo   Enable-WindowsOptionalFeature -FeatureName "Containers-DisposableClientVM" -All -Online
exit /b 2
:sandbox_path
echo check: the kit's folder or the result folder has "&", "!" or "^" in its path, which
echo this command cannot write whole: move the kit, or name another folder
exit /b 2
:sandbox_marked
echo check: the kit's files carry the mark of a download. Unblock the zip (its
echo Properties, Unblock), then unpack it again.
exit /b 2
:sandbox_unmade
echo check: cannot make %sb_result% or write the Sandbox's configuration in it
exit /b 2
:sandbox_unstarted
echo check: the Sandbox did not start the table within 5 minutes. Only one Sandbox
echo runs at a time: close any other, and its window if it opened, then run
echo check sandbox again with a new folder. What it left is in %sb_result%
exit /b 2
:sandbox_unfinished
echo check: the table did not end in the Sandbox within 30 minutes; what it wrote is in
echo %sb_result%. Close the Sandbox's window: what is in it is discarded.
exit /b 1

rem check sandbox-table runs, inside the Sandbox, the whole table into the
rem mapped result folder; "check sandbox" starts it there. It shuts the
rem machine down at the end, so it runs only from the kit mapped where
rem "check sandbox" maps it, beside the configuration that command wrote.
:sandbox_table
set "sb_result=C:\kavrel-check\result"
if /i not "%~dp0"=="C:\kavrel-check\kit\" goto usage
if not exist "%sb_result%\kavrel-check.wsb" goto usage
>"%sb_result%\started.txt" echo the table started
"%SystemRoot%\System32\cmd.exe" /d /c ""%~f0" both" >"%sb_result%\table.txt" 2>&1
set "sb_code=%errorlevel%"
>"%sb_result%\exit-code.tmp" echo %sb_code%
move /y "%sb_result%\exit-code.tmp" "%sb_result%\exit-code.txt" >nul
"%SystemRoot%\System32\shutdown.exe" /s /t 0
exit /b 0
