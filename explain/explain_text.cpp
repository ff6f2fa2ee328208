#include "explain/explain_text.h"

namespace explain {
namespace {

struct Named {
  uint32_t code;
  const char* name;
};

// The statuses the registry calls, the file checks and the starts can give.
constexpr Named kStatuses[] = {{0, "ERROR_SUCCESS"},
                               {2, "ERROR_FILE_NOT_FOUND"},
                               {3, "ERROR_PATH_NOT_FOUND"},
                               {5, "ERROR_ACCESS_DENIED"},
                               {6, "ERROR_INVALID_HANDLE"},
                               {8, "ERROR_NOT_ENOUGH_MEMORY"},
                               {14, "ERROR_OUTOFMEMORY"},
                               {87, "ERROR_INVALID_PARAMETER"},
                               {123, "ERROR_INVALID_NAME"},
                               {161, "ERROR_BAD_PATHNAME"},
                               {193, "ERROR_BAD_EXE_FORMAT"},
                               {206, "ERROR_FILENAME_EXCED_RANGE"},
                               {234, "ERROR_MORE_DATA"},
                               {267, "ERROR_DIRECTORY"},
                               {740, "ERROR_ELEVATION_REQUIRED"},
                               {1009, "ERROR_BADDB"},
                               {1010, "ERROR_BADKEY"},
                               {1011, "ERROR_CANTOPEN"},
                               {1012, "ERROR_CANTREAD"},
                               {1015, "ERROR_REGISTRY_CORRUPT"},
                               {1018, "ERROR_KEY_DELETED"},
                               {1113, "ERROR_NO_UNICODE_TRANSLATION"},
                               {1450, "ERROR_NO_SYSTEM_RESOURCES"}};

constexpr const char* kTypes[] = {"REG_NONE",
                                  "REG_SZ",
                                  "REG_EXPAND_SZ",
                                  "REG_BINARY",
                                  "REG_DWORD",
                                  "REG_DWORD_BIG_ENDIAN",
                                  "REG_LINK",
                                  "REG_MULTI_SZ",
                                  "REG_RESOURCE_LIST",
                                  "REG_FULL_RESOURCE_DESCRIPTOR",
                                  "REG_RESOURCE_REQUIREMENTS_LIST",
                                  "REG_QWORD"};

bool ShownAsIs(uint32_t c) { return c >= 0x20 && c <= 0x7E && c != '"' && c != '<'; }

// `value` as `digits` upper-case hex digits.
std::string Hex(uint32_t value, size_t digits) {
  std::string text(digits, '0');
  for (size_t i = digits; i > 0; --i, value >>= 4) text[i - 1] = "0123456789ABCDEF"[value & 0xF];
  return text;
}

}  // namespace

std::string DescribeStatus(int32_t status) {
  for (const Named& named : kStatuses) {
    // cppcheck-suppress useStlAlgorithm ; a plain table walk reads best here
    if (static_cast<int64_t>(named.code) == status)
      return std::to_string(status) + " " + named.name;
  }
  return std::to_string(status) + " (no name known to kavrel-explain)";
}

std::string RegistryTypeName(uint32_t type) {
  if (type < sizeof kTypes / sizeof kTypes[0]) return kTypes[type];
  return "type " + std::to_string(type);
}

std::string QuoteBytes(const char* text, size_t size) {
  std::string quoted = "\"";
  for (size_t i = 0; i < size; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (ShownAsIs(byte)) {
      quoted += static_cast<char>(byte);
    } else {
      quoted += "<" + Hex(byte, 2) + ">";
    }
  }
  return quoted + "\"";
}

std::string QuoteWide(const wchar_t* text) {
  std::string quoted = "\"";
  for (; *text != L'\0'; ++text) {
    // One UTF-16 code unit, whatever the width of wchar_t.
    const uint32_t unit = static_cast<uint16_t>(*text);
    if (ShownAsIs(unit)) {
      quoted += static_cast<char>(unit);
    } else {
      quoted += "<U+" + Hex(unit, 4) + ">";
    }
  }
  return quoted + "\"";
}

std::string DecimalAndHex(uint32_t number) {
  return std::to_string(number) + " (0x" + Hex(number, 8) + ")";
}

std::string DescribeTrial(const std::string& program, const Answer& answer) {
  std::string text = "created the process of " + program;
  if (answer.Suspended()) {
    text += " suspended (CREATE_SUSPENDED), found its first thread still suspended";
  } else if (answer.suspend_count == UINT32_MAX) {
    text += "; whether its first thread was suspended could not be asked (SuspendThread failed)";
  } else {
    text += "; its first thread was not suspended (SuspendThread gave " +
            std::to_string(answer.suspend_count) + ")";
  }
  const bool ended = answer.terminated && answer.seen_ended;
  if (!answer.terminated) {
    text += "; it could not be ended (TerminateProcess failed: " +
            DescribeStatus(static_cast<int32_t>(answer.terminate_error)) + ")";
  } else {
    text += ", ended it (TerminateProcess) and ";
    text += answer.seen_ended
                ? "saw it end"
                : "did not see it end within " + std::to_string(kEndWaitMs / 1000) + " s";
  }
  if (answer.Suspended() && ended) return text + ": none of its code ran";
  if (!answer.Suspended()) text += ": its code may have run";
  if (!ended)
    text += answer.Suspended() ? ": it may still be there" : ", and it may still be there";
  return text;
}

Options ParseOptions(const std::vector<std::wstring>& arguments) {
  Options options;
  size_t i = 1;
  for (; i < arguments.size(); ++i) {
    const std::wstring& argument = arguments[i];
    if (argument == L"--help") {
      options.help = true;
    } else if (argument == L"--no-trial") {
      options.trial = false;
    } else if (argument == L"--beside") {
      if (i + 1 == arguments.size() || arguments[i + 1].empty()) {
        options.error = "--beside needs a folder or a file";
        break;
      }
      options.beside = arguments[++i];
    } else if (argument == L"--") {
      ++i;
      break;
    } else if (argument.size() > 2 && argument.compare(0, 2, L"--") == 0) {
      // Meant as an option of kavrel-explain's, mistyped: never kavrel's argument.
      options.error = "unknown option " + QuoteWide(argument.c_str());
      break;
    } else {
      break;
    }
  }
  options.kavrel_arguments = i;
  return options;
}

std::wstring FindKavrel(const std::wstring& named, bool beside,
                        Found (*found)(const std::wstring& path), std::string* missing) {
  std::wstring path = named;
  Found there = found(path);
  if (there == Found::kFolder) {
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    path += L"\\kavrel.exe";
    there = found(path);
  }
  if (there == Found::kFile) return path;
  *missing = "no kavrel program file where kavrel-explain looks: " + QuoteWide(path.c_str()) +
             (there == Found::kFolder ? " is a folder" : " is not there") +
             (beside ? " (from --beside)"
                     : " (beside kavrel-explain, without --beside): copy kavrel-explain beside "
                       "kavrel.exe, or name kavrel's folder or file with --beside");
  return std::wstring();
}

}  // namespace explain
