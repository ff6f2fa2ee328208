// The installation record HKLM\Software\Merolt_01\Pimbalo, as the rows write
// it, byte for byte: each value with the type and the exact bytes a row
// gives, so also texts without their NUL and numbers of the wrong size.
//
//   WriteRecord(view, values), DeleteRecord(view)
//       in the registry view KEY_WOW64_32KEY or KEY_WOW64_64KEY
//   RecordText(name), RecordVersionIs(number)
//       read back from the 32-bit view
//   ImportRecord(reg_file, setuppath, appfile)
//       has Windows' own reg.exe, from the system folder, import the .reg
//       file into the 32-bit view (a registry client none of kavrel's code
//       is), and reads back where the record it wrote says the application
//       is. Tells what went wrong, or nothing.
#ifndef KAVREL_TESTS_E2E_RECORD_H_
#define KAVREL_TESTS_E2E_RECORD_H_

#include <stdint.h>
#include <windows.h>

#include <string>
#include <vector>

struct Value {
  std::wstring name;
  DWORD type;
  std::vector<BYTE> bytes;
};

Value Bytes(const std::wstring& name, DWORD type, std::vector<BYTE> bytes);
// A text as a program writing its record through the wide registry calls
// stores it: UTF-16, with or without its NUL.
Value Text(const std::wstring& name, const std::wstring& text, DWORD type = REG_SZ,
           bool with_nul = true);
// 8-bit text, as the bytes of a REG_BINARY value say.
Value AnsiBytes(const std::wstring& name, const std::wstring& text);
Value Dword(const std::wstring& name, uint32_t number);

void DeleteRecord(REGSAM view);
bool WriteRecord(REGSAM view, const std::vector<Value>& values);
// A text value of the record in the 32-bit view; empty when it cannot be
// read.
std::wstring RecordText(const wchar_t* name);
bool RecordVersionIs(DWORD expected);
std::string ImportRecord(const std::wstring& reg_file, std::wstring* setuppath,
                         std::wstring* appfile);

// The full path of `name` in Windows' system folder; empty when it cannot
// be told. Windows' own programs are started by it, never found on a search.
std::wstring SystemProgram(const wchar_t* name);

#endif  // KAVREL_TESTS_E2E_RECORD_H_
