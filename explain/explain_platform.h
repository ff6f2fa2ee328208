// kavrel-explain's platform: the functions of platform/platform.h as kavrel
// would meet them on this machine, recorded step by step. The registry is
// read for real and kavrel's command line is the one kavrel-explain was given
// less its own options; kavrel's own path is made up from the folder kavrel
// would be started from; the two starts are recorded and judged, never made.
// Restricting the DLL search is the one step taken for real, by kavrel's
// own code (platform/dll_search_windows.cpp).
#ifndef KAVREL_EXPLAIN_EXPLAIN_PLATFORM_H_
#define KAVREL_EXPLAIN_EXPLAIN_PLATFORM_H_

#include <stdint.h>

#include <string>
#include <vector>

namespace explain {

// One registry value read, as kavrel read it.
struct ValueRead {
  std::string name;
  int32_t status = 0;
  uint32_t capacity = 0;  // the bytes kavrel's destination holds
  uint32_t size = 0;      // the size the read reported
  std::string data;       // the destination after the read, all `capacity` bytes
  bool type_known = false;
  uint32_t type = 0;  // from kavrel-explain's own second query
};

// A start kavrel would make, and what would come of it.
struct Start {
  bool made = false;           // whether kavrel got as far as asking for it
  std::string program;         // the application path or the installer path
  std::string directory;       // the working directory
  bool would_succeed = false;  // kavrel-explain's judgement of the start
  std::string why_not;         // when it would not succeed
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
  Start application;
  Start installer;
};

// kavrel-explain's own command line, split by the Windows rules that split
// kavrel's; the program name first.
std::vector<std::wstring> OwnArguments();

// The full path kavrel.exe would have in `folder` (kavrel-explain's own
// folder when empty), in the ANSI code page as the 8-bit call gives it to
// kavrel; empty when the folder cannot be made a full path.
std::string KavrelPathIn(const std::wstring& folder);

// What the platform is to present: kavrel's path (in the ANSI code page, as
// the 8-bit call gives it) and how many of the split command line's leading
// arguments after the program name are kavrel-explain's own.
void Configure(const std::string& kavrel_path, size_t own_arguments);

// The steps recorded since Configure.
const Trace& Recorded();

}  // namespace explain

#endif  // KAVREL_EXPLAIN_EXPLAIN_PLATFORM_H_
