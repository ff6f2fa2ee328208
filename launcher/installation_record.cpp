#include "launcher/installation_record.h"

#include <string.h>

#include "launcher/exact_text.h"

namespace {

// Reads one text value into its path-text destination. `wide_name` is the
// same name, for reading it again as Windows holds it.
platform::Status ReadText(platform::RegistryKey key, const char* name, const wchar_t* wide_name,
                          char* destination) {
  memset(destination, 0, kPathCapacity);
  uint32_t size = kPathCapacity;
  const platform::Status status =
      platform::QueryRegistryValue(key, name, nullptr, destination, &size);
  if (status != platform::kSuccess) return status;
  // Only a NUL somewhere in the buffer makes it a whole text. Without one,
  // the value filled all 260 bytes and would be used cut; refuse it as a
  // value too long for its destination.
  if (memchr(destination, '\0', kPathCapacity) == nullptr) {
    memset(destination, 0, kPathCapacity);
    return platform::kErrorMoreData;
  }
  // A text the code page could not hold exactly names another path.
  if (!IsExactRegistryText(key, wide_name, destination)) {
    memset(destination, 0, kPathCapacity);
    return platform::kErrorNoUnicodeTranslation;
  }
  return status;
}

// Reads the version value, taking up to 4 bytes as a little-endian number.
platform::Status ReadVersion(platform::RegistryKey key, const char* name, uint32_t* version) {
  unsigned char bytes[4] = {0, 0, 0, 0};
  uint32_t size = sizeof bytes;
  const platform::Status status = platform::QueryRegistryValue(key, name, nullptr, bytes, &size);
  *version = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
             static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
  return status;
}

}  // namespace

bool ReadInstallationRecord(InstallationRecord* record, platform::RegistryKey* key,
                            bool* key_opened) {
  *key_opened =
      platform::OpenRegistryKey(platform::RegistryRoot::kLocalMachine, kInstallationKeyPath, 0,
                                kInstallationKeyAccess, key) == platform::kSuccess;
  if (!*key_opened) return false;

  record->setuppath_status = ReadText(*key, "setuppath", L"setuppath", record->setuppath);
  record->appfile_status = ReadText(*key, "appfile", L"appfile", record->appfile);
  record->version_status = ReadVersion(*key, "version", &record->version);

  return record->setuppath_status == platform::kSuccess &&
         record->appfile_status == platform::kSuccess &&
         record->version_status == platform::kSuccess;
}
