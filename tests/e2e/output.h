// What the driver prints. Each line goes to standard output and, once a log
// is open, into the log too, in UTF-8 with Windows' line ends.
//
//   OpenLog(path)  makes the log file new: CREATE_NEW, so that a name that is
//                  there already (a file, or a hard or symbolic link placed
//                  there in advance) is refused, never written through.
//                  Tells why not, or nothing.
//   Say(line)      prints the UTF-8 `line` and writes it to the log
//   LogFault()     why the log is not whole (a write to it failed), or
//                  nothing
//   KitLine(...)   prints a "kit:" line, one assumption of the kit's own
//                  about this machine: "kit: ok   SUBJECT: FOUND" or
//                  "kit: FAIL SUBJECT: FOUND"
#ifndef KAVREL_TESTS_E2E_OUTPUT_H_
#define KAVREL_TESTS_E2E_OUTPUT_H_

#include <string>

std::string OpenLog(const std::wstring& path);
void Say(const std::string& line);
std::string LogFault();
void KitLine(bool ok, const char* subject, const std::string& found);

#endif  // KAVREL_TESTS_E2E_OUTPUT_H_
