// kavrel-explain's platform: the functions of platform/platform.h as kavrel
// would meet them on this machine, recorded step by step. The registry is
// read for real and kavrel's command line is the one kavrel-explain was given
// less its own options; kavrel's own path is the one kavrel-explain was
// told. The two starts are judged: with the trial, Windows is asked
// (explain/explain_trial.h) and its answer goes back to kavrel's code;
// without it, the program file is only read (explain/explain_reading.h),
// and where reading cannot tell, kavrel's code is told that the start
// failed, so that the road beyond it is told too. The file is read in
// either case, to say why Windows refused. Restricting the DLL search is
// the one step taken for real, by kavrel's own code
// (platform/dll_search_windows.cpp).
#ifndef KAVREL_EXPLAIN_EXPLAIN_PLATFORM_H_
#define KAVREL_EXPLAIN_EXPLAIN_PLATFORM_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "explain/explain_reading.h"
#include "explain/explain_text.h"
#include "explain/explain_trial.h"

namespace explain {

// One registry value read, as Windows answered kavrel's 8-bit read; what
// kavrel made of it is in kavrel's own record (launcher/installation_record.h).
struct ValueRead {
  std::string name;
  int32_t status = 0;
  uint32_t capacity = 0;  // the bytes kavrel's destination holds
  uint32_t size = 0;      // the size the read reported
  std::string data;       // the destination after the read, all `capacity` bytes
  bool type_known = false;
  uint32_t type = 0;  // from kavrel-explain's own second query
  // kavrel's own second read, of the value as Windows holds it (UTF-16),
  // made only for a text that it could use.
  bool held_read = false;
  int32_t held_status = 0;
  std::wstring held;  // up to its first NUL
};

// A start kavrel would make, and what would come of it.
struct Start {
  bool made = false;      // whether kavrel got as far as asking for it
  std::string program;    // the application path or the installer path
  std::string directory;  // the working directory
  Reading reading;        // what reading the program file says
  bool asked = false;     // whether Windows was asked (the trial)
  Answer answer;          // Windows' answer to the trial: whether it created the
                          // process, or why not, and how it was held and ended
  // The start as judged: by Windows' answer with the trial, else by the
  // reading.
  Outcome outcome = Outcome::kCannotTell;
  bool after_asking = false;  // the shell asks for administrator rights first
};

// Everything kavrel asked of its platform during one decision, in its order.
struct Trace {
  bool key_open_tried = false;
  int32_t key_status = 0;
  std::vector<ValueRead> values;
  bool command_line_split = false;
  std::vector<std::wstring> kavrel_arguments;  // after the program name
  bool module_path_asked = false;
  std::string module_path;    // the path Windows would give kavrel
  uint32_t module_limit = 0;  // the bytes kavrel let Windows fill
  uint32_t module_length = 0;
  bool module_path_held_asked = false;  // the path as Windows holds it, asked for
  std::wstring module_path_held;
  uint32_t module_held_limit = 0;  // the UTF-16 units kavrel let Windows fill
  Start application;
  Start installer;
};

// kavrel-explain's own command line, split by the Windows rules that split
// kavrel's; the program name first.
std::vector<std::wstring> OwnArguments();

// Where kavrel-explain looks for kavrel's program file
// (explain::FindKavrel): the full path of `beside`, or of kavrel-explain's
// own folder with its closing backslash when `beside` is empty. Empty, with
// *problem set, when it cannot be made a full path.
std::wstring WhereToLook(const std::wstring& beside, std::string* problem);

// What is at the full path `path`: nothing, a folder or a file.
Found FoundAt(const std::wstring& path);

// `text` in the active code page, as an 8-bit call gives it to kavrel.
std::string Ansi(const std::wstring& text);

// Why `text`, which Windows converted from `held` into the active code page,
// is not exact: the first character of `held` that the code page cannot hold
// exactly, and what came in its place. Empty when it is exact.
std::string WhyNotExact(const std::string& text, const std::wstring& held);

// Makes kavrel's folder, where `kavrel_path` lies, the working directory,
// as Explorer does when it starts kavrel, so that relative paths are taken
// from there. Returns nothing when it did; else why not, and where relative
// paths are taken from instead.
std::string TakeKavrelsFolder(const std::wstring& kavrel_path);

// What the platform is to present: kavrel's path as Windows holds it, how
// many of the split command line's leading arguments after the program name
// are kavrel-explain's own, and whether Windows is asked about the starts
// (the trial).
void Configure(const std::wstring& path, size_t arguments, bool ask_windows);

// The steps recorded since Configure.
const Trace& Recorded();

}  // namespace explain

#endif  // KAVREL_EXPLAIN_EXPLAIN_PLATFORM_H_
