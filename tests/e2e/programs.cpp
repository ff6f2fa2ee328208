#include "tests/e2e/programs.h"

#include <string.h>
#include <windows.h>

#include "tests/e2e/files.h"
#include "tests/e2e/utf8.h"

namespace {

// The same level, after a commented-out element asking for asInvoker, as
// templates have it, and written as XML allows: spaces around "=", single
// quotes.
constexpr char kAdministratorAfterACommentManifest[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
    "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\r\n"
    "  <!-- Options for the level:\r\n"
    "    <requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\" />\r\n"
    "  -->\r\n"
    "  <trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\"><security><requestedPrivileges>\r\n"
    "    <requestedExecutionLevel level = 'requireAdministrator' uiAccess='false'/>\r\n"
    "  </requestedPrivileges></security></trustInfo>\r\n"
    "</assembly>\r\n";

// Stores the language of the first resource it is given, and stops.
BOOL CALLBACK TakeLanguage(HMODULE /*image*/, LPCWSTR /*type*/, LPCWSTR /*name*/, WORD language,
                           LONG_PTR into) {
  *reinterpret_cast<WORD*>(into) = language;
  return FALSE;
}

// The application manifest of the program at `path` (resource type 24, id
// 1) and its language; empty when it has none.
std::string ReadManifest(const std::wstring& path, WORD* language) {
  *language = 0;
  const HMODULE image = LoadLibraryExW(path.c_str(), nullptr,
                                       LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (image == nullptr) return std::string();
  EnumResourceLanguagesW(image, MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1), TakeLanguage,
                         reinterpret_cast<LONG_PTR>(language));
  std::string manifest;
  HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  const HGLOBAL loaded = found != nullptr ? LoadResource(image, found) : nullptr;
  const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (bytes != nullptr)
    manifest.assign(static_cast<const char*>(bytes), SizeofResource(image, found));
  FreeLibrary(image);
  return manifest;
}

}  // namespace

std::string ManifestAskingFor(const char* level) {
  return std::string(
             "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
             "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\r\n"
             "  <trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\"><security>"
             "<requestedPrivileges>\r\n"
             "    <requestedExecutionLevel level=\"") +
         level +
         "\" uiAccess=\"false\"/>\r\n"
         "  </requestedPrivileges></security></trustInfo>\r\n"
         "</assembly>\r\n";
}

bool WriteManifest(const std::wstring& path, const std::string& manifest) {
  WORD language = 0;
  ReadManifest(path, &language);
  const HANDLE update = BeginUpdateResourceW(path.c_str(), FALSE);
  if (update == nullptr) return false;
  const bool updated =
      UpdateResourceW(update, MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1), language,
                      const_cast<char*>(manifest.data()), static_cast<DWORD>(manifest.size()));
  return EndUpdateResourceW(update, !updated) && updated;
}

std::string CopyWithoutUtf8CodePage(const std::wstring& source, const std::wstring& destination) {
  WORD language = 0;
  std::string manifest = ReadManifest(source, &language);
  const size_t element = manifest.find("activeCodePage");
  const size_t begin = manifest.rfind("<application ", element);
  const size_t end = manifest.find("</application>", element);
  if (element == std::string::npos || begin == std::string::npos || end == std::string::npos) {
    return Utf8(source) + " has no active code page in its manifest";
  }
  manifest.erase(begin, end + strlen("</application>") - begin);
  if (!CopyProgram(source, destination) || !WriteManifest(destination, manifest)) {
    return "cannot rewrite the manifest of " + Utf8(destination);
  }
  const std::string written = ReadManifest(destination, &language);
  if (written.find("activeCodePage") != std::string::npos ||
      written.find("asInvoker") == std::string::npos) {
    return "the rewritten manifest of " + Utf8(destination) + " is not as meant";
  }
  return std::string();
}

bool Alter(const std::wstring& path, Altered how, uint16_t machine) {
  if (how == Altered::kAsksForAdministrator)
    return WriteManifest(path, ManifestAskingFor("requireAdministrator"));
  if (how == Altered::kAsksForAdministratorAfterAComment) {
    return WriteManifest(path, kAdministratorAfterACommentManifest);
  }
  std::string image = ReadWholeFile(path);
  if (image.size() < 64) return false;
  if (how == Altered::kCut) return WriteWholeFile(path, image.substr(0, 1024));
  const size_t pe = static_cast<unsigned char>(image[60]) |
                    static_cast<size_t>(static_cast<unsigned char>(image[61])) << 8;
  if (pe + 24 > image.size()) return false;
  if (how == Altered::kForAnotherProcessor) {
    // The file header's Machine, after the "PE\0\0" signature.
    image[pe + 4] = static_cast<char>(machine & 0xFF);
    image[pe + 5] = static_cast<char>(machine >> 8);
  } else if (how == Altered::kDll) {
    image[pe + 23] = static_cast<char>(image[pe + 23] | 0x20);  // IMAGE_FILE_DLL, 0x2000
  }
  return WriteWholeFile(path, image);
}
