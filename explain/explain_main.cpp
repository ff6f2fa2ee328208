// kavrel-explain: runs kavrel's own launch decision on this machine through
// a platform that starts nothing (explain_platform.cpp), then prints the
// road kavrel would take, one line per step, and a verdict.
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "explain/explain_platform.h"
#include "explain/explain_text.h"
#include "launcher/bounded_format.h"
#include "launcher/exact_text.h"
#include "launcher/installation_record.h"
#include "launcher/launch_decision.h"
#include "launcher/starts.h"
#include "launcher/version_gate.h"
#include "platform/platform.h"

namespace {

constexpr char kHelp[] =
    "usage: kavrel-explain [--beside FOLDER] [--] [ARGUMENT...]\n"
    "\n"
    "Runs kavrel's own launch decision on this machine, starts nothing, and\n"
    "prints each step kavrel would take: the installation record it reads from\n"
    "HKEY_LOCAL_MACHINE\\Software\\Merolt_01\\Pimbalo (32-bit view), the required\n"
    "version it takes from its first ARGUMENT, the application path, and the\n"
    "installer program instaluj_pimbalo.exe in kavrel's folder. Last comes the\n"
    "verdict, which is also the exit code:\n"
    "  0  kavrel would start the application\n"
    "  1  kavrel would start the installer program\n"
    "  2  kavrel would start nothing\n"
    "  3  kavrel-explain's own command line is not usable (an unknown option\n"
    "     beginning with -- too)\n"
    "  4  this help was asked for\n"
    "ARGUMENTs are the ones kavrel would be given. --beside names the folder\n"
    "kavrel.exe would be started from; by default this program's own folder.\n"
    "Whether a file is there to start is kavrel-explain's own check: kavrel\n"
    "learns it only by trying. Texts are shown in double quotes, with each byte\n"
    "outside printable ASCII (and \" and <) as <XX> in hex, and UTF-16 texts\n"
    "with <U+XXXX>.\n";

void Line(const std::string& label, const std::string& text) {
  printf("%-19s %s\n", (label + ":").c_str(), text.c_str());
}

// A text as kavrel uses it: up to its first NUL.
std::string AsText(const std::string& data) {
  return data.substr(0, strnlen(data.c_str(), data.size()));
}

std::string Quote(const std::string& text) { return explain::QuoteBytes(text.data(), text.size()); }

bool IsNumber(const explain::ValueRead& read) { return read.capacity == sizeof(uint32_t); }

// A text read that succeeded but filled kavrel's whole destination without a
// NUL, which kavrel refuses.
bool IsRefusedWhole(const explain::ValueRead& read) {
  return read.status == 0 && !IsNumber(read) && read.data.find('\0') == std::string::npos;
}

// A text read that kavrel refuses as not exact: read again as Windows holds
// it, a string value does not convert back to the same UTF-16 text.
bool IsRefusedInexact(const explain::ValueRead& read) {
  if (read.status != 0 || IsNumber(read) || IsRefusedWhole(read) || !read.held_read) return false;
  if (read.held_status != 0) return true;
  if (!IsConvertedType(read.held_type)) return false;
  const std::string text = AsText(read.data);
  return !ConvertsBackTo(text.c_str(), read.held.data(), read.held.size());
}

bool IsUsable(const explain::ValueRead& read) {
  return read.status == 0 && !IsRefusedWhole(read) && !IsRefusedInexact(read);
}

uint32_t NumberOf(const explain::ValueRead& read) {
  uint32_t number = 0;
  for (size_t i = read.data.size(); i > 0; --i) {
    number = number << 8 | static_cast<unsigned char>(read.data[i - 1]);
  }
  return number;
}

const explain::ValueRead* Find(const explain::Trace& trace, const char* name) {
  const auto found =
      std::find_if(trace.values.begin(), trace.values.end(),
                   [name](const explain::ValueRead& read) { return read.name == name; });
  return found != trace.values.end() ? &*found : nullptr;
}

std::string DescribeValue(const explain::ValueRead& read) {
  const std::string type = read.type_known ? explain::RegistryTypeName(read.type) : "type unknown";
  const std::string sized =
      type + ", " + std::to_string(read.size) + (read.size == 1 ? " byte" : " bytes");
  if (read.status == platform::kErrorFileNotFound) {
    return "missing (" + explain::DescribeStatus(read.status) + ")";
  }
  if (read.status == platform::kErrorMoreData) {
    return "not read (" + explain::DescribeStatus(read.status) + "), " + sized +
           ": longer than kavrel's " + std::to_string(read.capacity) + " bytes";
  }
  if (read.status != 0) return "not read (" + explain::DescribeStatus(read.status) + ")";

  std::string text = "read (" + explain::DescribeStatus(read.status) + "), " + sized + ": ";
  if (IsNumber(read)) {
    text += explain::DecimalAndHex(NumberOf(read));
    if (read.size < sizeof(uint32_t))
      text += " (fewer than 4 bytes, read as a little-endian number)";
    return text;
  }
  if (IsRefusedWhole(read)) {
    return text + "fills kavrel's whole " + std::to_string(read.capacity) +
           " bytes with no NUL, so it may have been cut: refused, as if too long";
  }
  text += Quote(AsText(read.data));
  if (IsRefusedInexact(read)) {
    const std::string why = read.held_status != 0
                                ? "read again as Windows holds it, it fails (" +
                                      explain::DescribeStatus(read.held_status) + ")"
                                : explain::WhyNotExact(AsText(read.data), read.held);
    return text + ", but " + why + ": refused as another path than the one written (" +
           explain::DescribeStatus(platform::kErrorNoUnicodeTranslation) + ")";
  }
  if (read.size > 0 && read.data[read.size - 1] != '\0') {
    text += " (stored without its closing NUL, used as it is)";
  }
  if (read.type_known && read.type == 2) text += " (not expanded)";
  return text;
}

// Whether kavrel, here, loads DLLs only from the system folder: the step it
// takes first, which kavrel-explain has just taken for itself the same way.
std::string DescribeDllSearch(platform::DllSearch search) {
  const std::string exposed = "; a DLL put in kavrel's folder may be loaded into it";
  switch (search) {
    case platform::DllSearch::kRestricted:
      break;
    case platform::DllSearch::kRefused:
      return "SetDefaultDllDirectories failed, so kavrel goes on unrestricted" + exposed;
    case platform::DllSearch::kUnavailable:
      return "this Windows lacks SetDefaultDllDirectories (Windows Vista, or 7 without update "
             "KB2533623), so kavrel goes on unrestricted" +
             exposed;
    case platform::DllSearch::kSkippedOnVista:
      return "Windows Vista, where kavrel does not restrict it (shell objects would fail)" +
             exposed;
  }
  return "restricted to the system folder (SetDefaultDllDirectories), before anything else: no "
         "DLL in kavrel's folder is loaded into it";
}

struct Verdict {
  int code;
  std::string text;
};

// The gate as kavrel judges it, with kavrel's own narrowing and parsing;
// sets *below when the installed version is below the required one.
std::string DescribeGate(const explain::Trace& trace, uint32_t installed, bool* below) {
  *below = false;
  if (trace.kavrel_arguments.empty()) {
    return "no argument: the required version is 0, which every installed version meets";
  }
  const std::wstring& argument = trace.kavrel_arguments[0];
  const std::string quoted = "first argument " + explain::QuoteWide(argument.c_str());
  char narrowed[kPathCapacity];
  if (!NarrowText(narrowed, sizeof narrowed, argument.c_str())) {
    return quoted + " has " + std::to_string(argument.size()) +
           " UTF-16 units, more than kavrel's 259: unusable, so the required version is 0";
  }
  if (narrowed[0] == '\0' && !argument.empty()) {
    return quoted + " holds a character above U+00FF: unusable, so the required version is 0";
  }
  const int32_t parsed = ParseRequiredVersion(narrowed);
  const auto required = static_cast<uint32_t>(parsed);
  *below = installed < required;
  std::string text =
      quoted + " narrowed to " + Quote(narrowed) + ", parsed as " + std::to_string(parsed);
  if (parsed < 0) text += ", compared as the unsigned " + std::to_string(required);
  text += "; installed " + std::to_string(installed) + (*below ? " is below " : " is not below ") +
          std::to_string(required);
  text += *below ? ": too old, kavrel starts the installer program" : ": the application is due";
  if (trace.kavrel_arguments.size() > 1) text += " (later arguments are not looked at)";
  return text;
}

// The installation key, its values and whether they make a record.
void TellRecord(const explain::Trace& trace) {
  const std::string key =
      std::string("HKEY_LOCAL_MACHINE\\") + kInstallationKeyPath + " (32-bit view)";
  if (trace.key_status != 0) {
    Line("installation key", key + " not opened (" + explain::DescribeStatus(trace.key_status) +
                                 "): no record, kavrel starts the installer program");
    return;
  }
  Line("installation key", key + " opened (" + explain::DescribeStatus(trace.key_status) + ")");
  std::string unusable;
  for (const explain::ValueRead& read : trace.values) {
    Line("value " + read.name, DescribeValue(read));
    if (!IsUsable(read)) unusable += (unusable.empty() ? "" : ", ") + read.name;
  }
  // kavrel reads its command line only when the record is complete.
  Line("record", trace.command_line_split
                     ? "complete"
                     : "incomplete (" + unusable + "): kavrel starts the installer program");
}

// The application path and start, when the gate let kavrel get that far.
void TellApplication(const explain::Trace& trace, bool below) {
  const explain::Start& app = trace.application;
  if (app.made) {
    Line("application path", Quote(app.program) + ", " + std::to_string(app.program.size()) +
                                 " bytes: fits (at most 259)");
    Line("application start",
         "in " + Quote(app.directory) + "; kavrel-explain's own check: " +
             (app.would_succeed ? "a Windows program is there, the start would succeed"
                                : app.why_not + ", so the start would fail and kavrel starts "
                                                "the installer program instead"));
  } else if (trace.command_line_split && !below) {
    const explain::ValueRead* setuppath = Find(trace, "setuppath");
    const explain::ValueRead* appfile = Find(trace, "appfile");
    const std::string joined = (setuppath != nullptr ? AsText(setuppath->data) : "") + "\\" +
                               (appfile != nullptr ? AsText(appfile->data) : "");
    Line("application path", Quote(joined) + ", " + std::to_string(joined.size()) +
                                 " bytes: over 259, a failed start: kavrel starts the installer "
                                 "program instead");
  }
}

// kavrel's own path and the installer program; returns why nothing would
// start, or nothing when the installer program would.
std::string TellInstaller(const explain::Trace& trace) {
  const bool whole = trace.module_length > 0 && trace.module_length < trace.module_limit;
  const size_t backslash = trace.module_path.rfind('\\');
  std::string text =
      Quote(trace.module_path) + ", " + std::to_string(trace.module_path.size()) + " bytes";
  if (!whole) {
    Line("kavrel's own path",
         text + ": too long (Windows may fill at most " + std::to_string(trace.module_limit) +
             " bytes, and a path that fills them may have been cut), so no installer program");
    return "kavrel's own path is too long to be had whole";
  }
  if (backslash == std::string::npos) {
    Line("kavrel's own path", text + ": no backslash, so no folder and no installer program");
    return "kavrel's own path holds no backslash";
  }
  if (!ConvertsBackTo(trace.module_path.c_str(), trace.module_path_held.data(),
                      trace.module_path_held.size()) ||
      trace.module_path_held.size() >= trace.module_held_limit) {
    Line("kavrel's own path", text + ": " +
                                  explain::WhyNotExact(trace.module_path, trace.module_path_held) +
                                  ", so it may name a look-alike folder: no installer program");
    return "kavrel's own path is not exactly the one Windows holds";
  }
  Line("kavrel's own path", text);

  const explain::Start& installer = trace.installer;
  if (!installer.made) {
    const std::string path = trace.module_path.substr(0, backslash + 1) + kInstallerFileName;
    Line("installer program", Quote(path) + ", " + std::to_string(path.size()) +
                                  " bytes: over 259, so no installer program");
    return "the installer path would be over 259 bytes";
  }
  Line("installer program", Quote(installer.program) + " in " + Quote(installer.directory) +
                                ", hidden; kavrel-explain's own check: " +
                                (installer.would_succeed ? "a file is there" : installer.why_not));
  if (installer.would_succeed) return std::string();
  return "the installer program " + Quote(installer.program) +
         " cannot start: " + installer.why_not;
}

Verdict Judge(const explain::Trace& trace, std::string nothing_because) {
  const explain::Start& app = trace.application;
  if (app.made && app.would_succeed) {
    return {0, "kavrel would start the application: " + Quote(app.program) + " (in " +
                   Quote(app.directory) + ")"};
  }
  const std::string tried = app.made ? "kavrel would try the application " + Quote(app.program) +
                                           ", but " + app.why_not + ", so it would "
                                     : "kavrel would ";
  if (trace.installer.made && trace.installer.would_succeed) {
    return {1, tried + "start the installer program: " + Quote(trace.installer.program)};
  }
  if (nothing_because.empty()) nothing_because = "kavrel-explain cannot tell why";
  return {2, tried + "start nothing: " + nothing_because};
}

// Prints the steps of `trace`, in kavrel's order, and returns the verdict.
Verdict Explain(const explain::Trace& trace) {
  TellRecord(trace);
  bool below = false;
  if (trace.command_line_split) {
    const explain::ValueRead* version = Find(trace, "version");
    const uint32_t installed = version != nullptr ? NumberOf(*version) : 0;
    Line("required version", DescribeGate(trace, installed, &below));
  }
  TellApplication(trace, below);
  const std::string nothing_because = trace.module_path_asked ? TellInstaller(trace) : "";
  return Judge(trace, nothing_because);
}

}  // namespace

int wmain() {
  // kavrel-explain lies where kavrel lies, so it keeps away from DLLs put
  // there just as kavrel does, and first of all.
  const platform::DllSearch dll_search = platform::RestrictDllSearchToSystemFolder();
  const std::vector<std::wstring> arguments = explain::OwnArguments();
  const explain::Options options = explain::ParseOptions(arguments);
  if (options.help && options.error.empty()) {
    (void)fputs(kHelp, stdout);
    return 4;
  }
  const std::wstring kavrel_path = explain::KavrelPathIn(options.beside);
  if (!options.error.empty() || kavrel_path.empty()) {
    (void)fprintf(
        stderr, "kavrel-explain: %s\n\n%s",
        options.error.empty() ? "the folder cannot be made a full path" : options.error.c_str(),
        kHelp);
    return 3;
  }

  Line("kavrel.exe",
       explain::QuoteWide(kavrel_path.c_str()) +
           (options.beside.empty() ? " (beside kavrel-explain)" : " (from --beside)"));
  std::string given;
  for (size_t i = options.kavrel_arguments; i < arguments.size(); ++i) {
    given += (given.empty() ? "" : " ") + explain::QuoteWide(arguments[i].c_str());
  }
  Line("arguments", given.empty() ? "none" : given);
  Line("DLL search", DescribeDllSearch(dll_search));

  explain::Configure(kavrel_path, options.kavrel_arguments - 1);
  wWinMain(nullptr, nullptr, nullptr, 0);
  const Verdict verdict = Explain(explain::Recorded());
  Line("verdict", verdict.text);
  return verdict.code;
}
