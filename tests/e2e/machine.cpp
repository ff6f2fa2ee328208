#include "tests/e2e/machine.h"

#include <windows.h>

#include "tests/e2e/output.h"

namespace {

// GetMachineTypeAttributes' answer: programs for the machine run in user
// mode.
constexpr int kUserEnabled = 0x1;

using IsWow64Process2Call = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
using GetMachineTypeAttributesCall = HRESULT(WINAPI*)(USHORT, int*);
using IsWow64GuestMachineSupportedCall = HRESULT(WINAPI*)(USHORT, BOOL*);

// A call of kernel32 (or of kernelbase, which holds some of them), null
// where this Windows lacks it.
template <typename Call>
Call Lookup(const char* name) {
  for (const wchar_t* module : {L"kernel32.dll", L"kernelbase.dll"}) {
    const HMODULE loaded = GetModuleHandleW(module);
    const FARPROC found = loaded != nullptr ? GetProcAddress(loaded, name) : nullptr;
    if (found != nullptr) return reinterpret_cast<Call>(reinterpret_cast<void (*)()>(found));
  }
  return nullptr;
}

}  // namespace

e2e::Asked AskWindows(uint16_t code, uint16_t native_code) {
  if (const auto attributes = Lookup<GetMachineTypeAttributesCall>("GetMachineTypeAttributes")) {
    int found = 0;
    if (SUCCEEDED(attributes(code, &found))) {
      return (found & kUserEnabled) != 0 ? e2e::Asked::kRuns : e2e::Asked::kDoesNotRun;
    }
  }
  // The native machine is no guest of WOW64, so this call does not speak
  // of it.
  const auto guest = Lookup<IsWow64GuestMachineSupportedCall>("IsWow64GuestMachineSupported");
  if (guest != nullptr && code != native_code) {
    BOOL supported = FALSE;
    if (SUCCEEDED(guest(code, &supported))) {
      return supported ? e2e::Asked::kRuns : e2e::Asked::kDoesNotRun;
    }
  }
  return e2e::Asked::kNotAsked;
}

MachineFacts ReadMachine() {
  MachineFacts facts = {};
  USHORT process = 0;
  USHORT native = 0;
  const auto wow64 = Lookup<IsWow64Process2Call>("IsWow64Process2");
  if (wow64 != nullptr && wow64(GetCurrentProcess(), &process, &native)) {
    facts.native_by = "IsWow64Process2";
  } else {
    SYSTEM_INFO system = {};
    GetNativeSystemInfo(&system);
    native = system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64   ? e2e::kMachineX64
             : system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_INTEL ? e2e::kMachineX86
                                                                             : 0;
    facts.native_by = "GetNativeSystemInfo: IsWow64Process2 is not here, or failed";
  }
  facts.native_code = native;
  facts.native = e2e::MachineOf(native);
  facts.x86 = AskWindows(e2e::kMachineX86, native);
  facts.x64 = AskWindows(e2e::kMachineX64, native);
  facts.arm64 = AskWindows(e2e::kMachineArm64, native);
  if (Lookup<GetMachineTypeAttributesCall>("GetMachineTypeAttributes") != nullptr) {
    facts.runs_by = "by GetMachineTypeAttributes";
  } else if (Lookup<IsWow64GuestMachineSupportedCall>("IsWow64GuestMachineSupported") != nullptr) {
    facts.runs_by = "by IsWow64GuestMachineSupported";
  } else {
    facts.runs_by =
        "by the native machine: neither GetMachineTypeAttributes nor "
        "IsWow64GuestMachineSupported is here to ask";
  }
  return facts;
}

int CanRunMode(const std::wstring& name) {
  const MachineFacts facts = ReadMachine();
  std::string why;
  if (name == L"x86") {
    why = e2e::CannotRun(e2e::Machine::kX86, facts.native, facts.x86);
  } else if (name == L"x64") {
    why = e2e::CannotRun(e2e::Machine::kX64, facts.native, facts.x64);
  } else if (name == L"arm64") {
    why = e2e::CannotRun(e2e::Machine::kArm64, facts.native, facts.arm64);
  } else {
    fputs("usage: e2e_driver can-run x86|x64|arm64\n", stderr);
    return 2;
  }
  if (why.empty()) return 0;
  Say(why);
  return 1;
}

bool TakesUtf8FromManifest(bool wine) {
  // Windows 10 version 1903 (build 18362) and later do, and so does Wine,
  // whichever Windows version it reports. Asked of ntdll, whose answer no
  // compatibility setting of the driver's own changes.
  if (wine) return true;
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const auto found = reinterpret_cast<void (*)()>(
      ntdll != nullptr ? GetProcAddress(ntdll, "RtlGetVersion") : nullptr);
  if (found == nullptr) return false;
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof version;
  if (reinterpret_cast<LONG(WINAPI*)(OSVERSIONINFOW*)>(found)(&version) != 0) return false;
  return version.dwMajorVersion > 10 ||
         (version.dwMajorVersion == 10 && version.dwBuildNumber >= 18362);
}
