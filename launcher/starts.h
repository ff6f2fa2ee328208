// The two ways kavrel ends its work: starting the installed application, or
// starting the installer program that lies beside kavrel's own program file.
// Both return as soon as the new process exists; kavrel never waits for it.
#ifndef KAVREL_LAUNCHER_STARTS_H_
#define KAVREL_LAUNCHER_STARTS_H_

// The installer program's file name, looked for in kavrel's own folder.
constexpr char kInstallerFileName[] = "instaluj_pimbalo.exe";

// Starts `setuppath`\`appfile` with no arguments, in `setuppath` as its
// working directory, with kavrel's environment and inheritable handles and no
// request about how to show its window. Returns true when the process was
// created. An application path over 259 bytes is not cut: it is a failed
// start. The command line is null: Windows then gives the application its
// path in double quotes as its command line.
bool StartApplication(const char* setuppath, const char* appfile);

// Starts the installer program from kavrel's own folder through the shell's
// default verb, hidden, in that folder (with its closing backslash). Does not
// report whether it started. Does nothing when kavrel's own path cannot be
// had whole (the call failed, the path was cut and so may name a parent
// folder, or the code page could not hold it exactly and so it may name a
// look-alike folder), holds no backslash, or the installer path would not
// fit.
void StartInstaller();

#endif  // KAVREL_LAUNCHER_STARTS_H_
