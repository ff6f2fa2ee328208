@echo off
rem kavrel's end-to-end table on this Windows machine, from the check kit of
rem a release (see README.txt): each case lays out kavrel, an installation
rem record and the programs kavrel may start, runs kavrel.exe and
rem kavrel-explain.exe, and checks what they did. It changes the machine.
rem
rem   check [WIDTH] [DRIVE:]
rem
rem WIDTH x86, the default, runs the table with the x86 programs, kavrel as
rem it ships; x64 with the x64 ones, where this Windows runs x64 programs
rem (the x86 driver asks it: "can-run x64"), else "skipped x64:" and why;
rem both with the one, then the other. DRIVE: is a spare drive whose root a
rem case may use; without it, the first free letter from K: on is mapped
rem with subst to a new folder for the run (under Wine, whose subst maps
rem nothing, give a drive of the prefix).
rem
rem Before its cases, each table's driver checks what its verdicts rest on
rem and prints a "kit:" line for each; "kit: FAIL" is the kit's own fault,
rem never kavrel's. Each table's lines appear as they come and stay in its
rem log, %TEMP%\kavrel-check-WIDTH.txt, which the driver makes new (--log):
rem the log of an earlier run is deleted first. The last lines are
rem "N passed, M failed, K skipped" over the tables run (a case this machine
rem cannot run is skipped, with the reason), then, when any kit check
rem failed, "kit: J of its own checks failed: ...". The exit code is 0 when
rem none failed and one passed and no kit check failed, 1 when a case failed,
rem 4 when a kit check failed and no case did, and 2 when no table could run
rem (and for every refusal before the run).
rem
rem Each folder the tables work in is made new for the run, writable only by
rem administrators and SYSTEM, and removed at the end; one that is there
rem already is refused, whatever it holds. Windows' own programs are started
rem by their full paths, also the command interpreter that runs pipes.
rem Paths are used only between double quotes, where "&", "^", "(" and ")"
rem are plain characters, and "!" is one without delayed expansion, which is
rem switched off below.
rem
rem   check sandbox [NEW-FOLDER]
rem
rem runs both tables in a new Windows Sandbox instead, with no administrator
rem rights needed here, and ends with the exit code of the run there (see
rem :sandbox at the end).
setlocal EnableExtensions DisableDelayedExpansion
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

rem A folder in the place of a log would have its files deleted by "del".
set "log="
for %%W in (%widths%) do call :log_folder %%W
if defined log goto log_refused

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

:log_refused
echo check: "%log%" is a folder, where the table's log goes; remove it, then run again.
exit /b 2

rem :log_folder WIDTH sets log to the name of that table's log when a folder
rem has it. (Wine's "if exist NAME\" holds for a file too: the attributes
rem tell.)
:log_folder
set "attributes="
for %%F in ("%TEMP%\kavrel-check-%1.txt") do set "attributes=%%~aF"
if "%attributes:~0,1%"=="d" set "log=%TEMP%\kavrel-check-%1.txt"
exit /b 0

:run
set /a passed=0, failed=0, skipped=0, kit_failed=0
for %%W in (%widths%) do call :table %%W
if defined mapped "%system%\subst.exe" %mapped% /d >nul 2>&1
if defined spare rd "%spare%" 2>nul
if defined spare if exist "%spare%" echo check: %spare% is not empty; remove it before the next run
echo %passed% passed, %failed% failed, %skipped% skipped
if %kit_failed% gtr 0 echo kit: %kit_failed% of its own checks failed: the kit, not kavrel, is at fault there
if %failed% gtr 0 exit /b 1
if %kit_failed% gtr 0 exit /b 4
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
rem its last line to the sums, and its "kit: FAIL" lines to kit_failed.
:table
if /i not "%1"=="x64" goto table_run
call :x64_runs
if errorlevel 1 exit /b 0
:table_run
rem The log of the run before goes; a folder in its place, which "del" would
rem empty, stays, and the driver refuses to make the log there.
set "log="
call :log_folder %1
if not defined log del /f "%TEMP%\kavrel-check-%1.txt" 2>nul
set "log=%TEMP%\kavrel-check-%1.txt"
echo %1: the table runs, for a minute or two; its lines stay in "%log%"
"%kit%%1\e2e_driver.exe" --throwaway-machine --log "%log%" run "%kit%%1\kavrel.exe" "%work%" %drive% "%kit%installation-record.reg"
set "code=%errorlevel%"
rem Only the lines that may be the last one are parsed: a case's name may
rem hold quotes. "N passed, M failed" may be followed by ", K skipped".
set "summary="
if exist "%log%" for /f "tokens=1-7" %%a in ('type "%log%" ^| "%find%" " passed, "') do (
  if "%%b %%d %%e"=="passed, failed " set "summary=%%a %%c 0"
  if "%%b %%d %%f %%g"=="passed, failed, skipped " set "summary=%%a %%c %%e"
)
if not defined summary goto table_unfinished
for /f "tokens=1-3" %%a in ("%summary%") do set /a passed+=%%a, failed+=%%b, skipped+=%%c
for /f "tokens=1,2" %%a in ('type "%log%" ^| "%find%" "kit: FAIL "') do (
  if "%%a %%b"=="kit: FAIL" set /a kit_failed+=1
)
exit /b 0
:table_unfinished
echo kit: FAIL %1 table: the driver ended before its last line (exit code %code%); none of its rows is counted
set /a kit_failed+=1
exit /b 0

rem :x64_runs asks the x86 driver whether this Windows runs x64 programs
rem (a 32-bit Windows runs none, Windows 10 on ARM64 emulates only x86):
rem exit code 1, after "skipped x64:" and the driver's reason, when it does
rem not. A driver that cannot answer (exit code 2 or more) lets the table
rem run, and the table shows what happens.
:x64_runs
"%kit%x86\e2e_driver.exe" can-run x64 >nul 2>&1
if errorlevel 2 exit /b 0
if not errorlevel 1 exit /b 0
set "said="
for /f "delims=" %%L in ('^""%kit%x86\e2e_driver.exe" can-run x64^"') do (
  if not defined said echo skipped x64: %%L
  set "said=1"
)
if not defined said echo skipped x64: the driver says this Windows cannot run x64 programs
exit /b 1

:usage
echo usage: check [x86 ^| x64 ^| both] [DRIVE:]
echo        check sandbox [NEW-FOLDER]
exit /b 2

rem check sandbox [NEW-FOLDER] runs both tables in a new Windows Sandbox and
rem needs no administrator here. It makes NEW-FOLDER (by default
rem %USERPROFILE%\kavrel-check-sandbox; refused if it exists), in which the
rem x86 driver writes the Sandbox's configuration, kavrel-check.wsb (UTF-8,
rem every path whole): this kit's folder mapped read-only to
rem C:\kavrel-check\kit, NEW-FOLDER writable to C:\kavrel-check\result,
rem without network. Then it opens that file as Windows' documentation
rem starts a configured Sandbox: through its file type, which belongs to
rem Windows Sandbox (from Windows 11 version 24H2 perhaps the Store's); where
rem no program is registered for .wsb files, it starts the Sandbox's
rem program in the system folder with the file. At logon the Sandbox runs
rem "check sandbox-table", which writes started.txt, the lines of "check
rem both" to table.txt and last its exit code to exit-code.txt, then shuts
rem the Sandbox down, which discards it. This side waits for exit-code.txt,
rem prints table.txt and ends with that code. Where the table did not start
rem within 5 minutes, or did not end within 30, it says what it saw: whether
rem a Windows Sandbox program ran (tasklist), and whether one ran already
rem before this start (Windows runs one Sandbox at a time). It changes
rem nothing here but NEW-FOLDER.
:sandbox
if not "%~3"=="" goto usage
set "sb_kit=%~dp0"
set "sb_kit=%sb_kit:~0,-1%"
set "sb_result=%~2"
if not defined sb_result set "sb_result=%USERPROFILE%\kavrel-check-sandbox"
for %%F in ("%sb_result%") do set "sb_result=%%~fF"
if exist "%sb_result%" goto sandbox_exists
set "sb_exe="
"%system%\reg.exe" query HKCR\.wsb >nul 2>&1
if not errorlevel 1 goto sandbox_found
set "sb_exe=%SystemRoot%\System32\WindowsSandbox.exe"
rem From a 32-bit Command Prompt, System32 shows the 32-bit programs.
if exist "%SystemRoot%\Sysnative\WindowsSandbox.exe" set "sb_exe=%SystemRoot%\Sysnative\WindowsSandbox.exe"
if not exist "%sb_exe%" goto sandbox_missing
:sandbox_found
rem The Sandbox would stop at the mark of a download as a run here would.
rem (Wine's cmd takes the status of "a | b" and of "a 2>nul" wrong for "&&" and
rem "||": the forms below read the same under both.)
dir /r "%sb_kit%\x86\e2e_probe.exe" 2>nul | "%find%" ":Zone.Identifier" >nul || goto sandbox_unmarked
goto sandbox_marked
:sandbox_unmarked
mkdir "%sb_result%" 2>nul
if not exist "%sb_result%\" goto sandbox_unmade
set "sb_wsb=%sb_result%\kavrel-check.wsb"
"%sb_kit%\x86\e2e_driver.exe" sandbox-config "%sb_kit%" "%sb_result%"
if errorlevel 1 goto sandbox_unwritten
if not exist "%sb_wsb%" goto sandbox_unwritten
call :sandbox_seen
set "sb_before=%sb_seen%"
echo check: a new Windows Sandbox runs both tables, for a few minutes; their lines
echo follow when they end, and stay in "%sb_result%\table.txt"
if defined sb_exe goto sandbox_program
start "" "%sb_wsb%"
goto sandbox_started
:sandbox_program
start "" "%sb_exe%" "%sb_wsb%"
:sandbox_started
if errorlevel 1 goto sandbox_unopened
rem Bounds: the table must have started within 5 minutes, and ended within 30.
set /a sb_waited=0
:sandbox_wait
if exist "%sb_result%\exit-code.txt" goto sandbox_done
if %sb_waited% geq 300 if not exist "%sb_result%\started.txt" goto sandbox_unstarted
if %sb_waited% geq 1800 goto sandbox_unfinished
"%system%\PING.EXE" -n 6 127.0.0.1 >nul
set /a sb_waited+=5
goto sandbox_wait
:sandbox_done
echo check: the Sandbox shuts itself down when the table ends; if its window stays, close it
type "%sb_result%\table.txt"
set "sb_code="
for /f "usebackq tokens=1" %%C in ("%sb_result%\exit-code.txt") do set "sb_code=%%C"
for %%C in (0 1 2 4) do if "%sb_code%"=="%%C" exit /b %%C
echo check: the Sandbox's exit code is not one the command gives: "%sb_code%"
exit /b 2
:sandbox_exists
echo check: "%sb_result%" exists; the results go into a new folder: remove it, or name
echo a new one, as in: check sandbox "%USERPROFILE%\kavrel-check-sandbox-2"
exit /b 2
:sandbox_missing
echo check: Windows Sandbox is missing or not enabled on this Windows (no program is
echo registered for .wsb files, and there is no %sb_exe%).
echo It is the optional feature "Windows Sandbox" (Containers-DisposableClientVM), on
echo Windows 10 and 11 Pro, Enterprise and Education with virtualization enabled. To
echo enable it: Start, "Turn Windows features on or off", tick "Windows Sandbox", OK,
echo and restart; or, in a PowerShell started as administrator:
echo   Enable-WindowsOptionalFeature -FeatureName "Containers-DisposableClientVM" -All -Online
exit /b 2
:sandbox_marked
echo check: the kit's files carry the mark of a download. Unblock the zip (its
echo Properties, Unblock), then unpack it again.
exit /b 2
:sandbox_unmade
echo check: cannot make "%sb_result%"
exit /b 2
:sandbox_unwritten
rd "%sb_result%" 2>nul
echo check: the Sandbox's configuration could not be written in "%sb_result%"; the
echo driver's line above says why. The folder is removed when it is empty.
exit /b 2
:sandbox_unopened
echo check: Windows Sandbox could not be started: Windows did not open
echo "%sb_wsb%" (what it said is above, or in a window of its own); the
echo configuration stays there.
exit /b 2
:sandbox_unstarted
call :sandbox_seen
if defined sb_before goto sandbox_second
if defined sb_seen goto sandbox_no_logon
echo check: Windows Sandbox did not start, or ended at once: 5 minutes after its start,
echo no Windows Sandbox program runs (tasklist) and the table has not started. Open
echo "%sb_wsb%" to see Windows' own message.
exit /b 2
:sandbox_no_logon
echo check: Windows Sandbox runs (tasklist: "%sb_seen%"), but has not run its logon command
echo within 5 minutes: there is no started.txt in "%sb_result%". Its window may say why,
echo such as a configuration it refused; close it.
exit /b 2
:sandbox_second
echo check: the table did not start within 5 minutes, and a Windows Sandbox program ran
echo already before this start (tasklist: "%sb_before%"). Windows runs one Sandbox at a
echo time: close the other, then run check sandbox again with a new folder.
exit /b 2
:sandbox_unfinished
echo check: the table started in the Sandbox but did not end within 30 minutes; what it
echo wrote is in "%sb_result%". Close the Sandbox's window: what is in it is discarded.
exit /b 2

rem :sandbox_seen sets sb_seen to the name of a running program whose name
rem holds "WindowsSandbox", as tasklist lists it; empty when there is none.
rem (Each line goes through :sandbox_name: a pipe to find inside "for /f"
rem is misread by Wine's cmd.)
:sandbox_seen
set "sb_seen="
for /f "tokens=1 delims=," %%P in ('^""%system%\tasklist.exe" /nh /fo csv^"') do call :sandbox_name "%%~P"
exit /b 0
:sandbox_name
set "sb_name=%~1"
if not "%sb_name:WindowsSandbox=%"=="%sb_name%" set "sb_seen=%sb_name%"
exit /b 0

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
