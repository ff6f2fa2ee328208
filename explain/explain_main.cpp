// kavrel-explain: runs kavrel's own launch decision on this machine through
// a platform of its own (explain_platform.cpp), then prints the road kavrel
// would take, one line per step, and a verdict. What each value came to is
// kavrel's own reading of it, from the record kavrel's code filled in.
#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "explain/explain_platform.h"
#include "explain/explain_reading.h"
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
    "usage: kavrel-explain [--no-trial] [--beside FOLDER|FILE] [--] [ARGUMENT...]\n"
    "\n"
    "Runs kavrel's own launch decision on this machine and prints each step kavrel\n"
    "would take: the installation record it reads from\n"
    "HKEY_LOCAL_MACHINE\\Software\\Merolt_01\\Pimbalo (32-bit view), the required\n"
    "version it takes from its first ARGUMENT, the application path, and the\n"
    "installer program instaluj_pimbalo.exe in kavrel's folder. Where kavrel would\n"
    "start a program, kavrel-explain asks Windows with the same call: it creates\n"
    "the process suspended and ends it before any of its code runs, and what\n"
    "Windows answers decides. Last comes the verdict, which is also the exit code:\n"
    "  0  kavrel would start the application\n"
    "  1  kavrel would start the installer program\n"
    "  2  kavrel would start nothing\n"
    "  3  kavrel-explain's own command line is not usable (an unknown option\n"
    "     beginning with -- too)\n"
    "  4  this help was asked for\n"
    "  5  with --no-trial: reading the files cannot tell what kavrel would start\n"
    "  6  there is no kavrel program file where kavrel-explain looks\n"
    "ARGUMENTs are the ones kavrel would be given. --beside names kavrel's program\n"
    "file, or the folder that holds it as kavrel.exe; by default kavrel.exe in\n"
    "this program's own folder. kavrel's folder is taken as its working\n"
    "directory, as Explorer starts it. --no-trial creates no process at all: the\n"
    "program files are only read, and where reading cannot know, the verdict\n"
    "says so. Texts are shown in double quotes, with each byte outside printable\n"
    "ASCII (and \" and <) as <XX> in hex, and UTF-16 texts with <U+XXXX>.\n";

constexpr int kCannotTell = 5;
constexpr int kNoKavrel = 6;

void Line(const std::string& label, const std::string& text) {
  printf("%-19s %s\n", (label + ":").c_str(), text.c_str());
}

// A text as kavrel uses it: up to its first NUL.
std::string AsText(const std::string& data) {
  return data.substr(0, strnlen(data.c_str(), data.size()));
}

std::string Quote(const std::string& text) { return explain::QuoteBytes(text.data(), text.size()); }

// How kavrel's reading of the value `name` ended, from its record.
platform::Status StatusIn(const InstallationRecord& record, const std::string& name) {
  if (name == "setuppath") return record.setuppath_status;
  if (name == "appfile") return record.appfile_status;
  return record.version_status;
}

// Whether `path` is taken relative to the working directory: anything but
// a drive letter with its backslash, or a network path.
bool IsRelative(const std::string& path) {
  const bool drive = path.size() >= 3 && isalpha(static_cast<unsigned char>(path[0])) != 0 &&
                     path[1] == ':' && path[2] == '\\';
  return !drive && path.compare(0, 2, "\\\\") != 0;
}

// A read that Windows did not answer with success; empty for one it did.
std::string DescribeFailedRead(const explain::ValueRead& read, const std::string& sized) {
  if (read.status == platform::kErrorFileNotFound) {
    return "missing (" + explain::DescribeStatus(read.status) + ")";
  }
  if (read.status == platform::kErrorMoreData) {
    return "not read (" + explain::DescribeStatus(read.status) + "), " + sized +
           ": longer than kavrel's " + std::to_string(read.capacity) + " bytes";
  }
  if (read.status != 0) return "not read (" + explain::DescribeStatus(read.status) + ")";
  return std::string();
}

// A text value: what Windows gave kavrel, and what kavrel made of it
// (`status`, and `taken`, the text it took).
std::string DescribeText(const explain::ValueRead& read, const std::string& sized,
                         platform::Status status, const char* taken) {
  std::string failed = DescribeFailedRead(read, sized);
  if (!failed.empty()) return failed;
  const std::string text = "read (" + explain::DescribeStatus(read.status) + "), " + sized + ": ";
  const std::string given = AsText(read.data);
  if (status == platform::kErrorMoreData) {
    return text + "fills kavrel's whole " + std::to_string(read.capacity) +
           " bytes with no NUL, so it may have been cut: refused, as if too long";
  }
  if (status == platform::kErrorNoUnicodeTranslation) {
    const std::string why = read.held_status != 0
                                ? "read again as Windows holds it, it fails (" +
                                      explain::DescribeStatus(read.held_status) + ")"
                                : explain::WhyNotExact(given, read.held);
    return text + Quote(given) + ", but " + why +
           ": refused as another path than the one written (" +
           explain::DescribeStatus(platform::kErrorNoUnicodeTranslation) + ")";
  }
  if (status != platform::kSuccess) {
    return text + Quote(given) + ", refused by kavrel (" + explain::DescribeStatus(status) + ")";
  }
  std::string described = text + Quote(taken);
  if (read.size > 0 && read.data[read.size - 1] != '\0') {
    described += " (stored without its closing NUL, used as it is)";
  }
  if (read.type_known && read.type == platform::kRegExpandSz) described += " (not expanded)";
  return described;
}

// The version value, with the number kavrel made of it.
std::string DescribeVersion(const explain::ValueRead& read, const std::string& sized,
                            platform::Status status, uint32_t version) {
  std::string failed = DescribeFailedRead(read, sized);
  if (!failed.empty()) return failed;
  std::string text = "read (" + explain::DescribeStatus(read.status) + "), " + sized + ": " +
                     explain::DecimalAndHex(version);
  if (read.size < sizeof(uint32_t)) text += " (fewer than 4 bytes, read as a little-endian number)";
  if (status != platform::kSuccess)
    text += ", refused by kavrel (" + explain::DescribeStatus(status) + ")";
  return text;
}

std::string DescribeValue(const explain::ValueRead& read, const InstallationRecord& record) {
  const std::string type = read.type_known ? explain::RegistryTypeName(read.type) : "type unknown";
  const std::string sized =
      type + ", " + std::to_string(read.size) + (read.size == 1 ? " byte" : " bytes");
  const platform::Status status = StatusIn(record, read.name);
  if (read.name == "version") return DescribeVersion(read, sized, status, record.version);
  return DescribeText(read, sized, status,
                      read.name == "setuppath" ? record.setuppath : record.appfile);
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
void TellRecord(const explain::Trace& trace, const InstallationRecord& record) {
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
    Line("value " + read.name, DescribeValue(read, record));
    if (StatusIn(record, read.name) != platform::kSuccess) {
      unusable += (unusable.empty() ? "" : ", ") + read.name;
    }
  }
  // kavrel reads its command line only when the record is complete.
  Line("record", trace.command_line_split
                     ? "complete"
                     : "incomplete (" + unusable + "): kavrel starts the installer program");
}

// What came of a start: Windows' answer with the trial, else the reading of
// the file; and the reading where it tells why Windows refused.
std::string DescribeStart(const explain::Start& start) {
  const explain::Reading& reading = start.reading;
  if (!start.asked) {
    switch (start.outcome) {
      case explain::Outcome::kStarts:
        return "reading the file: a Windows program, nothing in it that Windows is known to "
               "refuse" +
               (reading.why.empty() ? std::string() : "; " + reading.why);
      case explain::Outcome::kRefused:
        return "reading the file: " + reading.why + "; Windows refuses such a start";
      case explain::Outcome::kCannotTell:
        break;
    }
    return "reading the file cannot tell whether Windows makes this start: " + reading.why;
  }
  if (start.after_asking) {
    return "Windows creates it only with administrator rights (" +
           explain::DescribeStatus(static_cast<int32_t>(start.answer.error)) +
           "): the shell asks for them, then starts it";
  }
  if (!start.answer.created) {
    std::string text = "Windows refused to create it (" +
                       explain::DescribeStatus(static_cast<int32_t>(start.answer.error)) + ")";
    if (reading.outcome != explain::Outcome::kStarts && !reading.why.empty()) {
      text += ": " + reading.why;
    }
    return text;
  }
  std::string text = "Windows created it";
  if (reading.batch) {
    text += ", through the command interpreter, as it runs every .bat and .cmd file";
  } else if (reading.outcome == explain::Outcome::kRefused) {
    text += ", though reading the file said that it would not (" + reading.why + ")";
  }
  return text;
}

// The application path and start, when the gate let kavrel get that far.
void TellApplication(const explain::Trace& trace, const InstallationRecord& record, bool below) {
  const explain::Start& app = trace.application;
  if (app.made) {
    Line("application path", Quote(app.program) + ", " + std::to_string(app.program.size()) +
                                 " bytes: fits (at most 259)");
    std::string text = "in " + Quote(app.directory) + ": " + DescribeStart(app);
    if (app.outcome == explain::Outcome::kRefused) {
      text += ", so kavrel starts the installer program instead";
    }
    if (IsRelative(app.program) || IsRelative(app.directory)) {
      text +=
          "; the path is relative, so this depends on kavrel's working directory, taken here "
          "as kavrel's folder";
    }
    Line("application start", text);
  } else if (trace.command_line_split && !below) {
    const std::string joined = std::string(record.setuppath) + "\\" + record.appfile;
    Line("application path", Quote(joined) + ", " + std::to_string(joined.size()) +
                                 " bytes: over 259, a failed start: kavrel starts the installer "
                                 "program instead");
  }
}

// kavrel's own path and the installer program; returns why nothing would
// start, or nothing when the installer program would or might.
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
                                ", hidden, through the shell: " + DescribeStart(installer));
  if (installer.outcome != explain::Outcome::kRefused) return std::string();
  return "the installer program " + Quote(installer.program) + " cannot start: " +
         (installer.asked
              ? "Windows refused to create it (" +
                    explain::DescribeStatus(static_cast<int32_t>(installer.answer.error)) + ")"
              : installer.reading.why);
}

// The road after the application: the installer program, or nothing.
Verdict JudgeInstaller(const explain::Trace& trace, std::string nothing_because) {
  const explain::Start& installer = trace.installer;
  if (installer.made && installer.outcome == explain::Outcome::kStarts) {
    return {1, "start the installer program: " + Quote(installer.program) +
                   (installer.after_asking ? ", after Windows asks for administrator rights" : "")};
  }
  if (installer.made && installer.outcome == explain::Outcome::kCannotTell) {
    return {kCannotTell, "start the installer program " + Quote(installer.program) +
                             ", if Windows makes that start, which reading cannot tell"};
  }
  if (nothing_because.empty()) nothing_because = "kavrel-explain cannot tell why";
  return {2, "start nothing: " + nothing_because};
}

Verdict Judge(const explain::Trace& trace, const std::string& nothing_because) {
  const explain::Start& app = trace.application;
  Verdict verdict{0, ""};
  if (app.made && app.outcome == explain::Outcome::kStarts) {
    verdict.text = "kavrel would start the application: " + Quote(app.program) + " (in " +
                   Quote(app.directory) + ")";
  } else {
    const Verdict otherwise = JudgeInstaller(trace, nothing_because);
    verdict.code = otherwise.code;
    if (!app.made) {
      verdict.text = "kavrel would " + otherwise.text;
    } else if (app.outcome == explain::Outcome::kCannotTell) {
      verdict.code = kCannotTell;
      verdict.text = "kavrel would try the application " + Quote(app.program) +
                     "; reading alone cannot tell whether Windows creates it: if it does, kavrel "
                     "starts it; if not, it would " +
                     otherwise.text;
    } else {
      const std::string refused =
          app.asked ? "Windows refused to create it (" +
                          explain::DescribeStatus(static_cast<int32_t>(app.answer.error)) + ")"
                    : app.reading.why;
      verdict.text = "kavrel would try the application " + Quote(app.program) + ", but " + refused +
                     ", so it would " + otherwise.text;
    }
  }
  if (app.made && (IsRelative(app.program) || IsRelative(app.directory))) {
    verdict.text += " (this depends on kavrel's working directory, taken here as kavrel's folder)";
  }
  return verdict;
}

// Prints the steps of `trace`, in kavrel's order, and returns the verdict.
Verdict Explain(const explain::Trace& trace, const InstallationRecord& record) {
  TellRecord(trace, record);
  bool below = false;
  if (trace.command_line_split) {
    Line("required version", DescribeGate(trace, record.version, &below));
  }
  TellApplication(trace, record, below);
  const std::string nothing_because = trace.module_path_asked ? TellInstaller(trace) : "";
  return Judge(trace, nothing_because);
}

// The trial's one line: each process kavrel-explain created, and what it
// did to it, as Windows reported it.
void TellTrial(const explain::Trace& trace, bool trial) {
  if (!trial) {
    Line("trial", "none (--no-trial): no process was created, the program files were only read");
    return;
  }
  std::string done;
  const std::pair<const explain::Start*, const char*> starts[] = {
      {&trace.application, "the application"}, {&trace.installer, "the installer program"}};
  for (const auto& [start, program] : starts) {
    if (!start->answer.created) continue;
    done += (done.empty() ? "" : "; ") + explain::DescribeTrial(program, start->answer);
  }
  const bool asked = trace.application.asked || trace.installer.asked;
  if (done.empty()) {
    Line("trial", asked ? "Windows created no process, so none was to be ended"
                        : "no start was asked of Windows, so no process was created");
    return;
  }
  Line("trial", "to ask Windows, kavrel-explain " + done);
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
  std::string problem = options.error;
  const std::wstring named =
      problem.empty() ? explain::WhereToLook(options.beside, &problem) : std::wstring();
  if (!problem.empty()) {
    (void)fprintf(stderr, "kavrel-explain: %s\n\n%s", problem.c_str(), kHelp);
    return 3;
  }
  // Without kavrel's program file there is no kavrel to explain: a verdict
  // would be about a kavrel that is not there.
  std::string missing;
  const std::wstring kavrel_path =
      explain::FindKavrel(named, !options.beside.empty(), explain::FoundAt, &missing);
  if (kavrel_path.empty()) {
    (void)fprintf(stderr, "kavrel-explain: %s\n", missing.c_str());
    return kNoKavrel;
  }

  Line("kavrel", explain::QuoteWide(kavrel_path.c_str()) +
                     (options.beside.empty() ? " (beside kavrel-explain)" : " (from --beside)"));
  const std::string not_taken = explain::TakeKavrelsFolder(kavrel_path);
  Line("working directory",
       not_taken.empty() ? "kavrel's folder, as Explorer starts kavrel" : not_taken);
  std::string given;
  for (size_t i = options.kavrel_arguments; i < arguments.size(); ++i) {
    given += (given.empty() ? "" : " ") + explain::QuoteWide(arguments[i].c_str());
  }
  Line("arguments", given.empty() ? "none" : given);
  Line("DLL search", DescribeDllSearch(dll_search));

  explain::Configure(kavrel_path, options.kavrel_arguments - 1, options.trial);
  InstallationRecord record;
  memset(&record, 0, sizeof record);
  MakeLaunchDecision(&record);
  const explain::Trace& trace = explain::Recorded();
  const Verdict verdict = Explain(trace, record);
  TellTrial(trace, options.trial);
  Line("verdict", verdict.text);
  return verdict.code;
}
