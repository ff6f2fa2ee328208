// Programs made unfit to start, and manifests rewritten: the copies of the
// probe that Windows must refuse to create, and the copies of kavrel and
// kavrel-explain as a Windows without the UTF-8 code page reads them.
//
//   Alter(path, how, machine)
//       alters the probe copied to `path` as `how` says; for
//       kForAnotherProcessor it stamps `machine` into its header, a machine
//       type this machine cannot run (e2e::AnotherProcessor)
//   ManifestAskingFor(level), WriteManifest(path, manifest)
//       a manifest that asks for one execution level, and writing it into a
//       program (the copy must not be read-only: CopyProgram sees to that)
//   CopyWithoutUtf8CodePage(source, destination)
//       copies kavrel's program with the manifest as a Windows before 10
//       version 1903 reads it: without the element that makes UTF-8 the
//       active code page. Tells what went wrong, or nothing.
#ifndef KAVREL_TESTS_E2E_PROGRAMS_H_
#define KAVREL_TESTS_E2E_PROGRAMS_H_

#include <stdint.h>

#include <string>

// How a copy of the probe is altered so that Windows refuses to create it.
enum class Altered {
  kNo,
  kAsksForAdministrator,
  kAsksForAdministratorAfterAComment,
  kForAnotherProcessor,
  kDll,
  kCut
};

bool Alter(const std::wstring& path, Altered how, uint16_t machine);
// "requireAdministrator" for an application that needs administrator
// rights, "asInvoker" for the stand-in installer in the rows run with an
// administrator's filtered rights, which asks for no elevation.
std::string ManifestAskingFor(const char* level);
bool WriteManifest(const std::wstring& path, const std::string& manifest);
std::string CopyWithoutUtf8CodePage(const std::wstring& source, const std::wstring& destination);

#endif  // KAVREL_TESTS_E2E_PROGRAMS_H_
