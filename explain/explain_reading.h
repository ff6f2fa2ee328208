// What reading a program file tells about whether Windows creates a process
// of it: the file is read as data, and none of its code runs. Reading can
// show why Windows refuses a start (no file, no Windows program, a DLL, a
// program for another processor, a file cut short, a manifest asking for
// administrator rights kavrel lacks), but not everything Windows decides
// (security policies, installer detection, batch files), so it also says
// where it cannot tell.
#ifndef KAVREL_EXPLAIN_EXPLAIN_READING_H_
#define KAVREL_EXPLAIN_EXPLAIN_READING_H_

#include <string>

namespace explain {

enum class Outcome { kStarts, kRefused, kCannotTell };

// Who makes the start. Windows refuses kavrel's own process creation of a
// program that needs administrator rights kavrel lacks
// (ERROR_ELEVATION_REQUIRED); the shell asks for them and then starts it.
enum class Starter { kProcessCreation, kShell };

struct Reading {
  Outcome outcome = Outcome::kCannotTell;
  // Why Windows refuses the start, or why reading cannot tell; for a start,
  // what the reading found.
  std::string why;
  // A start the shell makes only after asking for administrator rights.
  bool after_asking = false;
  // A .bat or .cmd file, which Windows runs through the command interpreter.
  bool batch = false;
};

// Reads the file at `path` (relative to the current directory, as the
// start would take it) and judges a start of it by `starter`, made with
// the rights this process has.
Reading ReadProgramFile(const std::string& path, Starter starter);

}  // namespace explain

#endif  // KAVREL_EXPLAIN_EXPLAIN_READING_H_
