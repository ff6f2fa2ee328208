// Asking Windows whether it creates a process, without letting any of the
// process's code run: the process-creation call is made as the start would
// make it, with CREATE_SUSPENDED added, and a process that Windows created
// is ended at once with TerminateProcess, before its first thread ever ran,
// and its handles closed. What Windows answered is the outcome. What was
// done to the process is recorded as Windows reports it, not assumed: the
// trial line tells it, and the end-to-end suite checks it.
#ifndef KAVREL_EXPLAIN_EXPLAIN_TRIAL_H_
#define KAVREL_EXPLAIN_EXPLAIN_TRIAL_H_

#include <stdint.h>

namespace explain {

struct Answer {
  bool created = false;
  uint32_t error = 0;  // GetLastError when the process was not created
  // For a created process: what SuspendThread returned for its first thread
  // just before it was ended. 1 means still suspended, never resumed, as
  // CREATE_SUSPENDED leaves it (see Suspended).
  uint32_t suspend_count = 0;
  bool terminated = false;       // whether TerminateProcess succeeded
  uint32_t terminate_error = 0;  // GetLastError when it did not
  bool seen_ended = false;       // whether the wait saw the process end

  [[nodiscard]] bool Suspended() const { return suspend_count == 1; }
};

// How long the trial waits to see a process it ended end.
constexpr uint32_t kEndWaitMs = 5000;

// CreateProcessA with these arguments, `creation_flags` with
// CREATE_SUSPENDED added; `startup_info` is a STARTUPINFOA.
Answer CreateSuspendedAndEnd(const char* application_name, char* command_line,
                             void* process_attributes, void* thread_attributes,
                             int32_t inherit_handles, uint32_t creation_flags, void* environment,
                             const char* current_directory, void* startup_info);

// The process creation that the shell makes to start the program `file`
// in `directory` with `show_command`: no application name, the path in
// double quotes as the command line, no handles inherited, the show command
// in the startup information. Asked the same way.
Answer AskAsTheShellStarts(const char* file, const char* directory, int32_t show_command);

}  // namespace explain

#endif  // KAVREL_EXPLAIN_EXPLAIN_TRIAL_H_
