#include "explain/explain_trial.h"

#include <windows.h>

#include <string>

namespace explain {

Answer CreateSuspendedAndEnd(const char* application_name, char* command_line,
                             void* process_attributes, void* thread_attributes,
                             int32_t inherit_handles, uint32_t creation_flags, void* environment,
                             const char* current_directory, void* startup_info) {
  PROCESS_INFORMATION process = {};
  Answer answer;
  answer.created =
      CreateProcessA(application_name, command_line,
                     static_cast<SECURITY_ATTRIBUTES*>(process_attributes),
                     static_cast<SECURITY_ATTRIBUTES*>(thread_attributes), inherit_handles,
                     creation_flags | CREATE_SUSPENDED, environment, current_directory,
                     static_cast<STARTUPINFOA*>(startup_info), &process) != 0;
  if (!answer.created) {
    answer.error = GetLastError();
    return answer;
  }
  // Its first thread never ran, so none of its code did, nor any DLL's.
  // Windows is asked rather than trusted: a thread created suspended has a
  // suspend count of 1, which SuspendThread returns (and raises, harmlessly,
  // since the process is ended next); a thread that runs returns 0, and is
  // stopped there.
  answer.suspend_count = SuspendThread(process.hThread);
  answer.terminated = TerminateProcess(process.hProcess, 1) != 0;
  if (!answer.terminated) answer.terminate_error = GetLastError();
  answer.seen_ended = WaitForSingleObject(process.hProcess, kEndWaitMs) == WAIT_OBJECT_0;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return answer;
}

Answer AskAsTheShellStarts(const char* file, const char* directory, int32_t show_command) {
  std::string command_line = std::string("\"") + file + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(show_command);
  return CreateSuspendedAndEnd(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               directory, &startup);
}

}  // namespace explain
