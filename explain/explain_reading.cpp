#include "explain/explain_reading.h"

#include <ctype.h>
#include <string.h>
#include <windows.h>

#include <algorithm>

#include "explain/explain_manifest.h"
#include "explain/explain_text.h"

namespace explain {
namespace {

// 740 is ERROR_ELEVATION_REQUIRED, which mingw-w64's headers lack.
constexpr int32_t kElevationRequired = 740;
// The most of a file's beginning that is read for its headers.
constexpr DWORD kHeadersRead = 65536;

Reading Judged(Outcome outcome, const std::string& why) {
  Reading reading;
  reading.outcome = outcome;
  reading.why = why;
  return reading;
}

std::string LastError() { return DescribeStatus(static_cast<int32_t>(GetLastError())); }

uint32_t Little(const std::string& bytes, size_t at, size_t count) {
  uint32_t value = 0;
  for (size_t i = count; i > 0; --i) {
    value = value << 8 | static_cast<unsigned char>(bytes[at + i - 1]);
  }
  return value;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(tolower(c)); });
  return text;
}

bool EndsWith(const std::string& text, const char* ending) {
  const size_t length = strlen(ending);
  return text.size() >= length && text.compare(text.size() - length, length, ending) == 0;
}

enum class Runs { kYes, kNo, kUnknown };

// Whether this Windows runs programs made for `machine`, by its processor.
Runs RunsHere(WORD machine) {
  SYSTEM_INFO system = {};
  GetNativeSystemInfo(&system);
  // The field lies in a union of the structure Windows defines.
  switch (system.wProcessorArchitecture) {  // NOLINT(cppcoreguidelines-pro-type-union-access)
    case PROCESSOR_ARCHITECTURE_INTEL:
      return machine == IMAGE_FILE_MACHINE_I386 ? Runs::kYes : Runs::kNo;
    case PROCESSOR_ARCHITECTURE_AMD64:
      return machine == IMAGE_FILE_MACHINE_I386 || machine == IMAGE_FILE_MACHINE_AMD64 ? Runs::kYes
                                                                                       : Runs::kNo;
    case PROCESSOR_ARCHITECTURE_ARM64:
      // x64 programs run on Windows 11 only, 32-bit ARM ones not on the
      // newest Windows 11.
      if (machine == IMAGE_FILE_MACHINE_I386 || machine == IMAGE_FILE_MACHINE_ARM64)
        return Runs::kYes;
      return machine == IMAGE_FILE_MACHINE_AMD64 || machine == IMAGE_FILE_MACHINE_ARMNT
                 ? Runs::kUnknown
                 : Runs::kNo;
    default:
      return Runs::kUnknown;
  }
}

// The rights this process runs with: elevated, or an administrator's
// filtered ones.
struct Rights {
  bool elevated = false;
  bool filtered_administrator = false;
};

Rights OwnRights() {
  Rights rights;
  HANDLE token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) == 0) return rights;
  TOKEN_ELEVATION elevation = {};
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  DWORD size = 0;
  GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
  GetTokenInformation(token, TokenElevationType, &type, sizeof type, &size);
  CloseHandle(token);
  rights.elevated = elevation.TokenIsElevated != 0;
  rights.filtered_administrator = type == TokenElevationTypeLimited;
  return rights;
}

// The program's resource `name` of `type` as bytes; *readable tells whether
// its resources could be looked at at all. The file is mapped as data.
std::string ResourceOf(const char* path, LPCWSTR type, LPCWSTR name, bool* readable) {
  const HMODULE image =
      LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  *readable = image != nullptr;
  if (image == nullptr) return std::string();
  std::string bytes;
  HRSRC found = FindResourceW(image, name, type);
  const HGLOBAL loaded = found != nullptr ? LoadResource(image, found) : nullptr;
  const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (data != nullptr) bytes.assign(static_cast<const char*>(data), SizeofResource(image, found));
  FreeLibrary(image);
  return bytes;
}

// The word of Windows' installer detection that the file name `name` holds,
// case aside; empty when none.
std::string InstallerWord(const std::string& name) {
  const std::string lower = Lower(name);
  for (const char* word : {"setup", "install", "update"}) {
    if (lower.find(word) != std::string::npos) return word;
  }
  return std::string();
}

// Why the headers of the file `head` (the first bytes of a file of `size`
// bytes) do not make a Windows program that Windows creates a process of;
// sets *machine. Judged as starting when nothing is found.
Reading JudgeHeaders(const std::string& head, uint64_t size, WORD* machine) {
  const std::string not_a_program = "the file there is not a Windows program (no MZ/PE header)";
  SYSTEM_INFO system = {};
  GetNativeSystemInfo(&system);
  // A 32-bit Windows may run what is no Windows program as an MS-DOS one.
  const Outcome no_program =
      system.wProcessorArchitecture ==  // NOLINT(cppcoreguidelines-pro-type-union-access)
              PROCESSOR_ARCHITECTURE_INTEL
          ? Outcome::kCannotTell
          : Outcome::kRefused;
  if (head.size() < 64 || head[0] != 'M' || head[1] != 'Z')
    return Judged(no_program, not_a_program);
  const uint32_t pe = Little(head, 60, 4);
  if (uint64_t{pe} + 24 > size) return Judged(no_program, not_a_program);
  if (pe + 24 > head.size())
    return Judged(Outcome::kCannotTell, "its headers lie unusually far in");
  if (head.compare(pe, 4, std::string("PE\0\0", 4)) != 0) return Judged(no_program, not_a_program);

  *machine = static_cast<WORD>(Little(head, pe + 4, 2));
  const uint32_t sections = Little(head, pe + 6, 2);
  const uint32_t optional_size = Little(head, pe + 20, 2);
  const uint32_t characteristics = Little(head, pe + 22, 2);
  if ((characteristics & IMAGE_FILE_DLL) != 0) {
    return Judged(Outcome::kRefused, "the file there is a DLL, not a program");
  }
  const Runs runs = RunsHere(*machine);
  if (runs != Runs::kYes) {
    return Judged(runs == Runs::kNo ? Outcome::kRefused : Outcome::kCannotTell,
                  "the file there is a program for another processor (machine " +
                      DecimalAndHex(*machine) + ")" +
                      (runs == Runs::kNo ? ", which this Windows cannot run"
                                         : ", which only some versions of this Windows run"));
  }
  const size_t optional = pe + 24;
  const size_t table = optional + optional_size;
  if (optional_size < 72) {
    return Judged(no_program, "the file there is not a Windows program (its PE header is short)");
  }
  if (table + size_t{sections} * 40 > size) {
    return Judged(Outcome::kRefused, "the file ends before its headers do: it is cut short");
  }
  if (table + size_t{sections} * 40 > head.size()) {
    return Judged(Outcome::kCannotTell, "its headers are unusually large");
  }
  const uint32_t subsystem = Little(head, optional + 68, 2);
  if (subsystem != IMAGE_SUBSYSTEM_WINDOWS_GUI && subsystem != IMAGE_SUBSYSTEM_WINDOWS_CUI) {
    return Judged(Outcome::kCannotTell, "it is made for subsystem " + std::to_string(subsystem) +
                                            ", neither the Windows desktop nor its console");
  }
  // Every section's data must lie within the file; a half-written file
  // ends before it does.
  uint64_t needed = Little(head, optional + 60, 4);  // the size of the headers
  for (uint32_t i = 0; i < sections; ++i) {
    const size_t section = table + static_cast<size_t>(i) * 40;
    const uint64_t raw_size = Little(head, section + 16, 4);
    const uint64_t raw_at = Little(head, section + 20, 4);
    if (raw_size > 0 && raw_at + raw_size > needed) needed = raw_at + raw_size;
  }
  if (needed > size) {
    return Judged(Outcome::kRefused, "the file ends after " + std::to_string(size) +
                                         " bytes, but its sections reach to " +
                                         std::to_string(needed) + ": it is cut short");
  }
  return Judged(Outcome::kStarts, std::string());
}

// What the manifest of the program at `path`, for `machine`, tells about
// a start of it by `starter`, with the rights this process has.
Reading JudgeManifest(const std::string& path, WORD machine, Starter starter) {
  // The manifest Windows reads when it creates the process: resource type
  // 24, id 1; or, where it may, a file beside the program.
  bool readable = false;
  const ManifestLevel manifest = ReadExecutionLevel(
      ResourceOf(path.c_str(), MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1), &readable));
  if (!readable) return Judged(Outcome::kCannotTell, "its resources cannot be read");
  const std::string external = path + ".manifest";
  if (GetFileAttributesA(external.c_str()) != INVALID_FILE_ATTRIBUTES) {
    return Judged(Outcome::kCannotTell, "a manifest file lies beside it (" +
                                            QuoteBytes(external.data(), external.size()) +
                                            "), which Windows may read instead of the one inside");
  }
  if (!manifest.told) return Judged(Outcome::kCannotTell, "of its manifest: " + manifest.why);

  const Rights rights = OwnRights();
  const bool needs_administrator =
      manifest.level == "requireAdministrator" ||
      (manifest.level == "highestAvailable" && rights.filtered_administrator);
  if (needs_administrator && !rights.elevated) {
    const std::string asks = "its manifest asks for level=\"" + manifest.level +
                             "\", and kavrel, with the rights kavrel-explain has, runs without "
                             "administrator rights";
    if (starter == Starter::kShell) {
      Reading reading =
          Judged(Outcome::kStarts, asks + ": the shell asks for them, then starts it");
      reading.after_asking = true;
      return reading;
    }
    return Judged(Outcome::kRefused, asks + ": Windows refuses to create it (" +
                                         DescribeStatus(kElevationRequired) + ")");
  }
  // Windows' installer detection, where its policy has it on, takes a
  // 32-bit program that asks for no level for an installer by its name,
  // its version information or its content, and then asks for
  // administrator rights first.
  if (machine == IMAGE_FILE_MACHINE_I386 && manifest.level.empty() && !rights.elevated) {
    const char* slash = strrchr(path.c_str(), '\\');
    const std::string word = InstallerWord(slash != nullptr ? slash + 1 : path);
    const std::string by = word.empty() ? std::string("by its version information or content")
                                        : "as its name holds \"" + word + "\"";
    const std::string detection =
        "a 32-bit program that asks for no level in a manifest, which Windows' installer "
        "detection, "
        "where it is on, may take for an installer (" +
        by + ") and start only with administrator rights";
    if (starter == Starter::kShell) {
      return Judged(Outcome::kStarts, detection + ", which the shell then asks for");
    }
    return Judged(Outcome::kCannotTell, detection);
  }
  return Judged(Outcome::kStarts, std::string());
}

}  // namespace

Reading ReadProgramFile(const std::string& path, Starter starter) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return Judged(Outcome::kRefused, "no file is there");
    if (error == ERROR_PATH_NOT_FOUND) {
      return Judged(Outcome::kRefused, "no file is there, nor its folder");
    }
    const bool gone = error == ERROR_INVALID_NAME || error == ERROR_BAD_PATHNAME;
    return Judged(gone ? Outcome::kRefused : Outcome::kCannotTell,
                  (gone ? "no file is there (" : "the file cannot be looked at (") +
                      DescribeStatus(static_cast<int32_t>(error)) + ")");
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return Judged(Outcome::kRefused, "a folder is there, not a file");
  }
  const std::string lower = Lower(path);
  if (EndsWith(lower, ".bat") || EndsWith(lower, ".cmd")) {
    Reading reading = Judged(Outcome::kCannotTell,
                             "it is a batch file, which Windows runs through the command "
                             "interpreter");
    reading.batch = true;
    return reading;
  }

  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return Judged(Outcome::kCannotTell, "the file cannot be read (" + LastError() + ")");
  }
  LARGE_INTEGER size = {};
  std::string head(kHeadersRead, '\0');
  DWORD read = 0;
  const bool whole = GetFileSizeEx(file, &size) != 0 &&
                     ReadFile(file, head.data(), kHeadersRead, &read, nullptr) != 0;
  CloseHandle(file);
  if (!whole) return Judged(Outcome::kCannotTell, "the file cannot be read (" + LastError() + ")");
  head.resize(read);

  WORD machine = 0;
  Reading headers = JudgeHeaders(head, static_cast<uint64_t>(size.QuadPart), &machine);
  if (headers.outcome != Outcome::kStarts) return headers;
  return JudgeManifest(path, machine, starter);
}

}  // namespace explain
