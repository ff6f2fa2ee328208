#include "tests/e2e/refusal.h"

#include <windows.h>

#include "tests/e2e/files.h"
#include "tests/e2e/handle.h"
#include "tests/e2e/record.h"
#include "tests/e2e/scene.h"

namespace {

// Set for the child of the refusal check: it then believes it is not under Wine.
constexpr wchar_t kPretendNotWine[] = L"KAVREL_E2E_PRETEND_NOT_WINE";

}  // namespace

bool UnderWine() {
  if (GetEnvironmentVariableW(kPretendNotWine, nullptr, 0) != 0) return false;
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::vector<std::string> CheckRefusal(const std::wstring& arguments,
                                      const std::wstring& work_folder) {
  std::vector<std::string> problems;
  // This process's own number, which a child that did not refuse could not
  // write back the same.
  const DWORD untouched_version = GetCurrentProcessId();
  const std::string untouched_content = std::to_string(untouched_version);
  const std::wstring untouched = Join(work_folder, L"untouched.txt");
  if (!WriteWholeFile(untouched, untouched_content) ||
      !WriteRecord(KEY_WOW64_32KEY, {Dword(L"version", untouched_version)})) {
    problems.emplace_back("cannot lay out what the child must not touch");
    return problems;
  }

  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inheritable, 0)) {
    problems.emplace_back("cannot make a pipe");
    return problems;
  }
  const Handle reader(read_end);
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);

  // Whatever the child does, it ends with the job.
  const Handle job(CreateJobObjectW(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);

  std::wstring command_line = L"\"" + OwnPath() + L"\" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = write_end;
  startup.hStdError = write_end;
  PROCESS_INFORMATION process = {};
  SetEnvironmentVariableW(kPretendNotWine, L"1");
  const BOOL created =
      CreateProcessW(nullptr, &command_line[0], nullptr, nullptr, /*bInheritHandles=*/TRUE,
                     CREATE_SUSPENDED, nullptr, nullptr, &startup, &process);
  SetEnvironmentVariableW(kPretendNotWine, nullptr);
  // The child's output ends when no one else holds the writing end.
  CloseHandle(write_end);
  if (!created) {
    problems.push_back("cannot start the child: error " + std::to_string(GetLastError()));
    return problems;
  }
  const Handle child(process.hProcess);
  const Handle child_thread(process.hThread);
  AssignProcessToJobObject(job.get(), child.get());
  ResumeThread(child_thread.get());
  DWORD status = 0;
  if (WaitForSingleObject(child.get(), kCaseTimeoutMs) != WAIT_OBJECT_0) {
    TerminateJobObject(job.get(), 1);
    problems.emplace_back("the child did not end");
  }
  GetExitCodeProcess(child.get(), &status);

  std::string output;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(reader.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) {
    output.append(buffer, read);
  }
  if (status != kRefusedStatus) problems.push_back("exit status " + std::to_string(status));
  if (output.find("not under Wine, so nothing is done") == std::string::npos) {
    problems.push_back("no refusal in its output: " + output);
  }
  if (ReadWholeFile(untouched) != untouched_content) {
    problems.emplace_back("the work folder changed");
  }
  if (!RecordVersionIs(untouched_version)) problems.emplace_back("the record changed");

  DeleteFileW(Extended(untouched).c_str());
  DeleteRecord(KEY_WOW64_32KEY);
  return problems;
}
