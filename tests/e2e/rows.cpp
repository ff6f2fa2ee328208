#include "tests/e2e/rows.h"

namespace {

// A relative path of exactly `length` characters that ends in `ending`,
// through folders of at most 40 characters each.
std::wstring LongRelativePath(size_t length, const std::wstring& ending) {
  std::wstring path;
  size_t left = length - ending.size();  // for folder names and their backslashes
  while (left > 0) {
    size_t step = left < 41 ? left : 41;
    if (left - step == 1) --step;  // never leave room for a backslash alone
    path += std::wstring(step - 1, L'l') + L"\\";
    left -= step;
  }
  return path + ending;
}

}  // namespace

void Scene::Set(Value value) {
  for (Value& existing : values) {
    if (existing.name == value.name) {
      existing = std::move(value);
      return;
    }
  }
  values.push_back(std::move(value));
}

void Scene::Remove(const std::wstring& name) {
  for (auto it = values.begin(); it != values.end(); ++it) {
    if (it->name == name) {
      values.erase(it);
      return;
    }
  }
}

void Scene::Application(const std::wstring& appfile) {
  Set(Text(L"appfile", appfile));
  app_program = Join(setuppath, appfile);
}

void Scene::Setuppath(const std::wstring& folder_path) {
  setuppath = folder_path;
  Set(Text(L"setuppath", folder_path));
  app_program = Join(setuppath, kApplicationName);
}

Scene DefaultScene(const std::wstring& folder) {
  Scene scene;
  scene.folder = folder;
  scene.kavrel_folder = Join(folder, L"setup");
  scene.Setuppath(Join(folder, L"Pimbalo"));
  scene.Set(Text(L"appfile", kApplicationName));
  scene.Set(Dword(L"version", 5));
  return scene;
}

std::vector<Case> Cases(const std::wstring& spare_drive, const std::wstring& sample_record,
                        uint16_t another_processor) {
  const auto none = [](Scene&) {};
  const auto installed = [](uint32_t version) {
    return [version](Scene& s) { s.Set(Dword(L"version", version)); };
  };
  const auto no_key = [](Scene& s) { s.key_present = false; };
  // A version value stored with `type` and exactly `bytes`.
  const auto version_as = [](DWORD type, std::vector<BYTE> bytes) {
    return [type, bytes](Scene& s) { s.Set(Bytes(L"version", type, bytes)); };
  };
  // kavrel, or the application, in a folder named with characters outside
  // code page 1252, and a decoy in the folder that best fit would name.
  const auto kavrel_in_michal = [](Scene& s) {
    s.kavrel_folder = Join(s.folder, L"Micha\u0142");
    s.key_present = false;
    s.plants.push_back(Join(Join(s.folder, L"Michal"), kInstallerName));
  };
  const auto setuppath_zazolc = [](Scene& s) {
    s.plants.push_back(Join(Join(s.folder, L"Zaz\u00f3lc"), kApplicationName));
    s.Setuppath(Join(s.folder, L"Za\u017c\u00f3\u0142\u0107"));
  };
  // The same, with the programs as a Windows without the UTF-8 code page reads them.
  const auto legacy = [](const std::function<void(Scene&)>& arrange) {
    return [arrange](Scene& s) {
      s.legacy_code_page = true;
      arrange(s);
    };
  };
  const e2e::Started app = e2e::Started::kApplication;
  const e2e::Started installer = e2e::Started::kInstaller;
  const e2e::Started nothing = e2e::Started::kNothing;

  std::vector<Case> cases = {
      // The installation record, read whole or not at all.
      {"complete record, no argument", L"", none, app},
      {"no installation key", L"", no_key, installer},
      {"no installation key, argument 0", L"0", no_key, installer},
      {"key without values", L"", [](Scene& s) { s.values.clear(); }, installer},
      {"setuppath missing", L"", [](Scene& s) { s.Remove(L"setuppath"); }, installer},
      {"appfile missing", L"", [](Scene& s) { s.Remove(L"appfile"); }, installer},
      {"version missing", L"", [](Scene& s) { s.Remove(L"version"); }, installer},
      {"setuppath as REG_BINARY is used as stored", L"",
       [](Scene& s) { s.Set(AnsiBytes(L"setuppath", s.setuppath)); }, app},
      {"REG_EXPAND_SZ setuppath is not expanded", L"",
       [](Scene& s) {
         const std::wstring literal = Join(s.folder, L"%KAVREL_E2E_FOLDER%");
         s.plants.push_back(s.app_program);  // where the expanded text points
         s.Setuppath(literal);
         s.Set(Text(L"setuppath", literal, REG_EXPAND_SZ));
       },
       app},
      {"setuppath stored without its NUL is used", L"",
       [](Scene& s) { s.Set(Text(L"setuppath", s.setuppath, REG_SZ, false)); }, app},
      {"setuppath of 300 bytes", L"",
       [](Scene& s) {
         s.Set(Text(L"setuppath",
                    Join(s.setuppath, LongRelativePath(300 - s.setuppath.size() - 1, L"P"))));
       },
       installer},
      {"appfile of 260 bytes without NUL", L"",
       [](Scene& s) {
         s.Set(Text(L"appfile", LongRelativePath(260, kApplicationName), REG_SZ, false));
       },
       installer},
      {"version of 8 bytes", L"", version_as(REG_QWORD, {5, 0, 0, 0, 0, 0, 0, 0}), installer},
      {"version of 2 bytes 34 12, argument 4660", L"4660", version_as(REG_BINARY, {0x34, 0x12}),
       app},
      {"version of 2 bytes 34 12, argument 4661", L"4661", version_as(REG_BINARY, {0x34, 0x12}),
       installer},
      // A REG_SZ "7" of 4 bytes comes through the 8-bit call as "7" and its
      // NUL: two bytes, the number 0x37.
      {"version as REG_SZ \"7\", argument 55", L"55",
       [](Scene& s) { s.Set(Text(L"version", L"7")); }, app},
      {"version as REG_SZ \"7\", argument 56", L"56",
       [](Scene& s) { s.Set(Text(L"version", L"7")); }, installer},
      // Whatever kavrel's own width, it reads the 32-bit view. Where there
      // is one view (a 32-bit Windows), these two are skipped.
      {"record in the 64-bit view only", L"",
       [](Scene& s) {
         s.values_64 = s.values;
         s.key_present = false;
       },
       installer},
      {"records in both views: the 32-bit one counts", L"",
       [](Scene& s) {
         const std::wstring decoy = Join(s.folder, L"Pimbalo64");
         s.values_64 = {Text(L"setuppath", decoy), Text(L"appfile", kApplicationName),
                        Dword(L"version", 5)};
         s.plants.push_back(Join(decoy, kApplicationName));
       },
       app},

      // The application start.
      {"application file missing", L"", [](Scene& s) { s.app_present = false; }, installer},
      {"application file is not a program", L"",
       [](Scene& s) {
         s.Application(L"readme.txt");
         s.app_present = false;
         s.app_is_text = true;
       },
       installer},
      {"empty appfile", L"", [](Scene& s) { s.Set(Text(L"appfile", L"")); }, installer},
      {"empty setuppath", L"", [](Scene& s) { s.Set(Text(L"setuppath", L"")); }, installer},
      {"appfile in a subfolder", L"", [](Scene& s) { s.Application(L"bin\\pimbalo.exe"); }, app},
      {"setuppath with a closing backslash", L"",
       [](Scene& s) { s.Set(Text(L"setuppath", s.setuppath + L"\\")); }, app},
      {"installation folder with spaces", L"",
       [](Scene& s) { s.Setuppath(Join(s.folder, L"Pimbalo App  2")); }, app},
      {"application path of 259 bytes", L"",
       [](Scene& s) {
         s.Application(LongRelativePath(259 - s.setuppath.size() - 1, kApplicationName));
       },
       app},
      {"application path of 263 bytes, a program at its first 259", L"",
       [](Scene& s) {
         const std::wstring cut = LongRelativePath(259 - s.setuppath.size() - 1, kApplicationName);
         s.Application(cut + L".exe");
         s.app_present = false;
         s.plants = {Join(s.setuppath, cut), s.app_program};
       },
       installer},
      {"kavrel does not wait for the application", L"", [](Scene& s) { s.hold = true; }, app},
      // A machine type this machine cannot run: ARM64, or, on ARM64,
      // Itanium.
      {std::string("application for another processor (") +
           (another_processor == e2e::kMachineIa64 ? "Itanium" : "ARM64") + ")",
       L"", [](Scene& s) { s.app_altered = Altered::kForAnotherProcessor; }, installer},
      {"application file is a DLL", L"", [](Scene& s) { s.app_altered = Altered::kDll; },
       installer},
      {"application cut to its first 1,024 bytes", L"",
       [](Scene& s) { s.app_altered = Altered::kCut; }, installer},
      // Windows runs a batch file through the command interpreter.
      {"appfile run.cmd, a batch file that starts the application", L"",
       [](Scene& s) {
         s.Set(Text(L"appfile", L"run.cmd"));
         s.texts.push_back({Join(s.setuppath, L"run.cmd"), "@\"%~dp0pimbalo.exe\"\r\n"});
       },
       app},
      // A program that asks for administrator rights: Windows creates it for a
      // caller that has them, as the driver does (elevated, or with UAC off),
      // so kavrel started with the driver's own rights starts it.
      {"application asks for administrator rights", L"",
       [](Scene& s) { s.app_altered = Altered::kAsksForAdministrator; }, app},
      // Windows refuses it to a caller with an administrator's filtered
      // rights (ERROR_ELEVATION_REQUIRED), as kavrel is when a user starts
      // it, and kavrel starts the installer program (on_windows); Wine
      // elevates without asking and starts the application. Where no filtered
      // token of the driver's user is to be had (starts.h), these rows are
      // skipped.
      {"application asks for administrator rights, kavrel with filtered rights", L"",
       [](Scene& s) {
         s.app_altered = Altered::kAsksForAdministrator;
         s.filtered = true;
       },
       app, installer},
      // The same, with asInvoker in a comment before the level, read alone.
      {"manifest with asInvoker in a comment before requireAdministrator, --no-trial", L"",
       [](Scene& s) {
         s.app_altered = Altered::kAsksForAdministratorAfterAComment;
         s.filtered = true;
         s.explain_reads_only = true;
       },
       app, installer},

      // Paths with characters that code page 1252 lacks. Converted with
      // Windows' best fit they would name the look-alike folder, where a
      // decoy lies. With UTF-8 as its code page kavrel gets them exactly;
      // without it (a Windows before 10 version 1903), it refuses them.
      {"kavrel in a folder with l-stroke, a decoy in its look-alike", L"", kavrel_in_michal,
       installer, std::nullopt, nothing},
      {"setuppath with z-dot, o-acute, l-stroke and c-acute, a decoy in its look-alike", L"",
       setuppath_zazolc, app, std::nullopt, installer},
      {"code page 1252: kavrel in a folder with l-stroke, a decoy in its look-alike", L"",
       legacy(kavrel_in_michal), nothing},
      {"code page 1252: setuppath with z-dot, o-acute, l-stroke and c-acute, a decoy", L"",
       legacy(setuppath_zazolc), installer},

      // Where kavrel lies.
      {"kavrel at a drive root", L"",
       [spare_drive](Scene& s) {
         s.kavrel_folder = spare_drive + L"\\";
         s.key_present = false;
       },
       installer},
      {"kavrel in a folder with spaces", L"7",
       [](Scene& s) { s.kavrel_folder = Join(s.folder, L"Pimbalo Setup"); }, installer},
      {"no installer beside kavrel", L"",
       [](Scene& s) {
         s.installer_beside = false;
         s.key_present = false;
       },
       nothing},
      {"no installer beside kavrel, complete record", L"",
       [](Scene& s) { s.installer_beside = false; }, app},
      {"installer path of 259 bytes", L"",
       [](Scene& s) {
         s.kavrel_folder = Join(s.folder, LongRelativePath(238 - s.folder.size() - 1, L"setup"));
         s.key_present = false;
       },
       installer},
      {"installer path of 266 bytes, a program at its first 259", L"",
       [](Scene& s) {
         s.kavrel_folder = Join(s.folder, LongRelativePath(245 - s.folder.size() - 1, L"setup"));
         s.key_present = false;
         s.plants = {Join(s.kavrel_folder, L"instaluj_pimb"),
                     Join(s.kavrel_folder, L"instaluj_pimb.exe")};
       },
       nothing},
      // A renamed kavrel, whose program file kavrel-explain is given.
      {"kavrel renamed", L"",
       [](Scene& s) {
         s.kavrel_name = L"pimbalo-start.exe";
         s.key_present = false;
       },
       installer},
      // Windows creates no process whose path is over 259 characters, but
      // in UTF-8 these 251 are 260 bytes, too long for kavrel to have whole.
      {"kavrel renamed, its own path of 251 characters and 260 bytes", L"",
       [](Scene& s) {
         s.kavrel_folder = Join(s.folder, LongRelativePath(229 - s.folder.size() - 1, L"setup"));
         s.kavrel_name = L"za\u017c\u00f3\u0142\u0107-g\u0119\u015bl\u0105-ja\u017a\u0144.exe";
         s.key_present = false;
       },
       nothing},
      // kavrel-explain as users run it: copied beside kavrel, no --beside.
      {"kavrel-explain beside kavrel finds it without --beside", L"",
       [](Scene& s) {
         s.kavrel_folder = Join(s.folder, L"Pimbalo Setup");
         s.key_present = false;
         s.explain_beside_kavrel = true;
       },
       installer},
      {"kavrel does not wait for the installer", L"",
       [](Scene& s) {
         s.key_present = false;
         s.hold = true;
       },
       installer},

      // The record as an installer's author writes it from the sample, whose
      // version is 5.
      {"the sample .reg file, imported by reg.exe into the 32-bit view, argument 5", L"5",
       [sample_record](Scene& s) { s.imported_record = sample_record; }, app},
  };

  // The required-version gate: the first argument against the installed
  // version. Most numbers are tried at the installed version just below them
  // and at themselves; 259 nines (2147483647) only just below, "1 9" (only
  // its first argument counts) only above; a text that gives 0 is tried at
  // installed version 0.
  struct Gate {
    std::string label;
    std::wstring argument;
    uint32_t installed;
    e2e::Started expected;
  };
  const std::vector<Gate> gates = {
      {"2", L"2", 1, installer},
      {"2", L"2", 2, app},
      {"2", L"2", 3, app},
      {"\"  5\"", L"\"  5\"", 4, installer},
      {"\"  5\"", L"\"  5\"", 5, app},
      {"+5", L"+5", 4, installer},
      {"+5", L"+5", 5, app},
      {"5abc", L"5abc", 4, installer},
      {"5abc", L"5abc", 5, app},
      {"05", L"05", 4, installer},
      {"05", L"05", 5, app},
      {"abc", L"abc", 0, app},
      {"x5", L"x5", 0, app},
      {"0x10", L"0x10", 0, app},
      {"\"\" (empty)", L"\"\"", 0, app},
      {"-1", L"-1", 4294967294u, installer},
      {"-1", L"-1", 4294967295u, app},
      {"99999999999", L"99999999999", 2147483646, installer},
      {"99999999999", L"99999999999", 2147483647, app},
      {"12<greek lambda>3", L"12\u03bb3", 0, app},
      {"<U+00A0>5", L"\u00a05", 0, app},
      {"5<e acute>", L"5\u00e9", 4, installer},
      {"5<e acute>", L"5\u00e9", 5, app},
      {"1 9 (two arguments)", L"1 9", 5, app},
      {"259 nines", std::wstring(259, L'9'), 2147483646, installer},
      {"260 nines", std::wstring(260, L'9'), 0, app},
      {"300 nines", std::wstring(300, L'9'), 0, app},
  };
  for (const Gate& gate : gates) {
    cases.push_back({"argument " + gate.label + ", installed " + std::to_string(gate.installed),
                     gate.argument, installed(gate.installed), gate.expected});
  }
  return cases;
}
