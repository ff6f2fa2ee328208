// The rows of the end-to-end table: each a situation kavrel is started in
// (a Scene: where kavrel lies, the record, the programs beside it) and what
// it must start there. What a row expects where Wine or the machine parts
// from the plain case is chosen in expectation.h.
//
//   Cases(spare_drive, sample_record, another_processor)
//       every row, in the table's order; `spare_drive` (say "K:") is a drive
//       whose root may hold kavrel, `sample_record` the sample .reg file,
//       `another_processor` the machine type the "another processor" row
//       stamps on the application
//   DefaultScene(folder)
//       kavrel in its own folder with the installer program beside it, and a
//       complete record of installed version 5 for an application in
//       another, all below the row's `folder`
#ifndef KAVREL_TESTS_E2E_ROWS_H_
#define KAVREL_TESTS_E2E_ROWS_H_

#include <stdint.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/expectation.h"
#include "tests/e2e/files.h"
#include "tests/e2e/programs.h"
#include "tests/e2e/record.h"

constexpr wchar_t kInstallerName[] = L"instaluj_pimbalo.exe";
constexpr wchar_t kApplicationName[] = L"pimbalo.exe";

struct Scene {
  std::wstring folder;         // the row's own folder: its reports, kavrel's working directory
  std::wstring kavrel_folder;  // where kavrel lies
  std::wstring kavrel_name = L"kavrel.exe";  // its program file's name
  bool installer_beside = true;              // whether instaluj_pimbalo.exe lies beside it
  std::wstring setuppath;                    // the application's folder
  std::wstring app_program;                  // where the application's program file is put
  bool app_present = true;
  bool app_is_text = false;  // whether a text file stands where the program should
  // More files, by path, with their text: a batch file the record names.
  std::vector<std::pair<std::wstring, std::string>> texts;
  Altered app_altered = Altered::kNo;  // how the application's program file is made unfit
  // Whether kavrel and kavrel-explain are the copies whose manifests lack
  // the UTF-8 code page, as a Windows before 10 version 1903 reads them.
  bool legacy_code_page = false;
  // Whether kavrel and kavrel-explain run with an administrator's filtered
  // rights, as kavrel runs when a user starts it on Windows, rather than
  // with the driver's own.
  bool filtered = false;
  // Whether kavrel-explain only reads the files (--no-trial); its verdict
  // is then Windows' one, not Wine's.
  bool explain_reads_only = false;
  // Whether kavrel-explain is copied beside kavrel and finds it there
  // itself, without --beside, as users run it.
  bool explain_beside_kavrel = false;
  bool key_present = true;           // the installation key, in the 32-bit view
  std::vector<Value> values;         // its values, written in this order
  std::vector<Value> values_64;      // a record in the 64-bit view, when not empty
  std::vector<std::wstring> plants;  // more copies of the probe, which must not start
  bool hold = false;                 // whether the started program waits to be let go
  // A .reg file that reg.exe imports into the 32-bit view in place of
  // `values`; setuppath and app_program then come from what it wrote. The
  // outermost folder of setuppath that was not there, outside the row's
  // own, is made new and removed after the row: `outside_folder`.
  std::wstring imported_record;
  std::wstring outside_folder;

  std::wstring KavrelPath() const { return Join(kavrel_folder, kavrel_name); }
  std::wstring InstallerPath() const { return Join(kavrel_folder, kInstallerName); }
  // Whether kavrel lies at a drive root, where the row's own folder is not.
  bool AtDriveRoot() const { return kavrel_folder.size() == 3; }

  void Set(Value value);
  void Remove(const std::wstring& name);
  // Points the record at an application program `appfile` below setuppath.
  void Application(const std::wstring& appfile);
  void Setuppath(const std::wstring& folder_path);
};

Scene DefaultScene(const std::wstring& folder);

struct Case {
  std::string name;
  std::wstring arguments;  // kavrel's command line after its own quoted path
  std::function<void(Scene&)> arrange;
  e2e::Started expected;
  // Where Wine parts from Windows: what Windows starts, by its documentation,
  // which kavrel-explain's verdict must name.
  std::optional<e2e::Started> on_windows{};
  // What starts on a Windows that ignores the UTF-8 code page of kavrel's
  // manifest (before 10 version 1903), where kavrel takes its paths in
  // code page 1252 as the rows expect it; when not given, the same.
  std::optional<e2e::Started> in_code_page_1252{};
};

std::vector<Case> Cases(const std::wstring& spare_drive, const std::wstring& sample_record,
                        uint16_t another_processor);

#endif  // KAVREL_TESTS_E2E_ROWS_H_
