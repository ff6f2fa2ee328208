// The texts kavrel-explain prints that need no Windows: the names of the
// status codes and value types it meets, texts shown with their unprintable
// bytes escaped, its own options, and where they make it look for kavrel's
// program file. Compiled natively too, for the unit tests.
#ifndef KAVREL_EXPLAIN_EXPLAIN_TEXT_H_
#define KAVREL_EXPLAIN_EXPLAIN_TEXT_H_

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "explain/explain_trial.h"

namespace explain {

// "2 ERROR_FILE_NOT_FOUND": a Windows status code with its name, or with
// "(no name known to kavrel-explain)" for one it does not list.
std::string DescribeStatus(int32_t status);

// "REG_SZ", "REG_DWORD", ...; "type N" for a number that names no type.
std::string RegistryTypeName(uint32_t type);

// `size` bytes of 8-bit text between double quotes, each byte outside
// printable ASCII, and the double quote and '<' themselves, written as <XX>
// in hex: "C:\Pimbalo<E9><0D>". What is shown can be read back unambiguously.
std::string QuoteBytes(const char* text, size_t size);

// The same for a UTF-16 text, each code unit outside printable ASCII (and the
// double quote and '<') written as <U+XXXX>.
std::string QuoteWide(const wchar_t* text);

// A number as decimal and as 8 hex digits: "5 (0x00000005)".
std::string DecimalAndHex(uint32_t number);

// What the trial did to the process of `program` (say "the application"),
// from its `answer`: created suspended, its first thread still suspended,
// ended and seen ended. Only when all of that holds does it say that none
// of the program's code ran; otherwise it says what failed, and what may
// follow from it.
std::string DescribeTrial(const std::string& program, const Answer& answer);

// kavrel-explain's command line, split: [--help] [--no-trial] [--beside
// FOLDER|FILE] [--] [ARGUMENT...]. `arguments` holds the whole split line,
// its program name first. Any other argument that begins with "--" before
// the "--" is an unknown option, an error; a single "-" (as in -1) begins
// kavrel's.
struct Options {
  bool help = false;
  bool trial = true;            // false: --no-trial, the files are only read
  std::wstring beside;          // empty: kavrel-explain's own folder
  size_t kavrel_arguments = 1;  // index of the first argument meant for kavrel
  std::string error;            // not empty: the command line is not usable
};
Options ParseOptions(const std::vector<std::wstring>& arguments);

// What is at a path, as Windows' file attributes tell it.
enum class Found { kNothing, kFolder, kFile };

// kavrel's program file, where kavrel-explain looks for it: `named` itself
// when it is a file, kavrel.exe in it when it is a folder. `named` is the
// full path of what --beside names (`beside` true), or of kavrel-explain's
// own folder; `found` tells what is at a path. Empty when no file is there,
// with *missing set to one line that says where it looked and what it found.
std::wstring FindKavrel(const std::wstring& named, bool beside,
                        Found (*found)(const std::wstring& path), std::string* missing);

}  // namespace explain

#endif  // KAVREL_EXPLAIN_EXPLAIN_TEXT_H_
