// Where the driver may run. It changes the machine it runs on: it writes
// and deletes the installation record in both registry views and empties
// the folders it works in. So it runs only under Wine (in a throwaway
// prefix), or on a Windows machine that may lose all that when the caller
// says so with --throwaway-machine; otherwise it refuses and exits with 3.
//
//   UnderWine()
//       whether ntdll is Wine's (it exports wine_get_version), unless
//       KAVREL_E2E_PRETEND_NOT_WINE is set, as in the child below
//   CheckRefusal(arguments, work_folder)
//       runs this driver again with `arguments`, as a child made to
//       believe it is not under Wine, and tells what is wrong with how it
//       refused: it must end with the refusal's status and message and
//       leave a record and a file in the work folder as they were
#ifndef KAVREL_TESTS_E2E_REFUSAL_H_
#define KAVREL_TESTS_E2E_REFUSAL_H_

#include <string>
#include <vector>

constexpr wchar_t kThrowawayFlag[] = L"--throwaway-machine";
constexpr int kRefusedStatus = 3;
constexpr char kRefusal[] =
    "e2e_driver: not under Wine, so nothing is done. The driver deletes the installation\n"
    "record HKLM\\Software\\Merolt_01\\Pimbalo in both registry views and empties the\n"
    "folders it works in. On a Windows machine that may lose them, pass --throwaway-machine.\n";

bool UnderWine();
std::vector<std::string> CheckRefusal(const std::wstring& arguments,
                                      const std::wstring& work_folder);

#endif  // KAVREL_TESTS_E2E_REFUSAL_H_
