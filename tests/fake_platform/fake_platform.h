// A test double of the platform: a scripted picture of the Windows calls
// kavrel makes. Tests set up the world (registry values, kavrel's own path,
// its command line, what each call answers), run the launcher, and read back
// every call it made with the arguments it passed.
#ifndef KAVREL_TESTS_FAKE_PLATFORM_FAKE_PLATFORM_H_
#define KAVREL_TESTS_FAKE_PLATFORM_FAKE_PLATFORM_H_

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fake {

// Registry value contents, byte for byte.
using Bytes = std::vector<uint8_t>;
Bytes Text(const std::string& text);            // with its terminating NUL
Bytes TextWithoutNul(const std::string& text);  // stored without it
Bytes Dword(uint32_t value);                    // 4 bytes, little-endian

struct OpenCall {
  platform::RegistryRoot root;
  std::string subkey;
  uint32_t options;
  uint32_t access;
};

struct QueryCall {
  platform::RegistryKey key;
  std::string name;
  bool reserved_is_null;
  uint32_t size_given;
};

struct CreateProcessCall {
  std::string application_name;
  bool command_line_is_null;
  std::string command_line;
  bool process_attributes_is_null;
  bool thread_attributes_is_null;
  int32_t inherit_handles;
  uint32_t creation_flags;
  bool environment_is_null;
  std::string current_directory;
  platform::StartupInfo startup_info;
  bool process_information_given;
};

struct ShellExecuteCall {
  bool operation_is_null;
  std::string file;
  bool parameters_is_null;
  std::string directory;
  int32_t show_command;
};

// How GetModuleFileNameA behaves when the path does not fit: Windows Vista
// and later cut it to size-1 bytes and a NUL; Windows XP fills all size
// bytes and leaves no NUL. Both return size.
enum class ModuleCut { kWithNul, kWithoutNul };

struct World {
  // --- what the calls answer ---
  platform::DllSearch dll_search = platform::DllSearch::kRestricted;
  platform::Status open_status = platform::kErrorFileNotFound;
  std::map<std::string, Bytes> values;                   // values present in the key
  std::map<std::string, platform::Status> query_status;  // forced per value
  // The wide registry call and the module path in UTF-16: what Windows holds.
  // Unless given here, a value is REG_SZ and holds its bytes as they are,
  // each widened to the unit of the same number, the conversion that the
  // fake code page makes (ISO 8859-1); and so does the module path.
  std::map<std::string, uint32_t> types;
  std::map<std::string, std::wstring> held;
  std::wstring module_path_held;
  int32_t create_process_result = 1;
  std::string module_path = "C:\\setup\\kavrel.exe";
  bool module_call_fails = false;
  ModuleCut module_cut = ModuleCut::kWithNul;
  intptr_t shell_execute_result = 42;
  std::vector<std::wstring> arguments = {L"kavrel.exe"};
  bool split_fails = false;

  // --- what the launcher did ---
  int platform_calls = 0;  // every call, in all
  int dll_search_restrictions = 0;
  int calls_before_dll_restriction = -1;  // the calls made before the first restriction
  std::vector<OpenCall> opens;
  std::vector<QueryCall> queries;
  std::vector<platform::RegistryKey> closes;
  std::vector<CreateProcessCall> creates;
  std::vector<uint32_t> module_calls;  // the size passed each time
  std::vector<ShellExecuteCall> shell_executes;
  int command_line_reads = 0;
  int splits = 0;
  bool split_got_own_command_line = false;
  int frees = 0;             // LocalFree calls
  int vectors_released = 0;  // of which released the vector handed out
  bool vector_outstanding = false;
};

// The one world the fake platform serves; Reset() before each test.
World& TheWorld();
void Reset();

// The key handle the fake hands out on a successful open.
platform::RegistryKey OpenedKey();

}  // namespace fake

#endif  // KAVREL_TESTS_FAKE_PLATFORM_FAKE_PLATFORM_H_
