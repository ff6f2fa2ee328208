// The installation record: where the installer put the application and
// which version it is, read from the registry key the installer writes.
#ifndef KAVREL_LAUNCHER_INSTALLATION_RECORD_H_
#define KAVREL_LAUNCHER_INSTALLATION_RECORD_H_

#include <stdint.h>

#include "launcher/bounded_format.h"
#include "platform/platform.h"

// HKEY_LOCAL_MACHINE, in the 32-bit view of "Software".
constexpr char kInstallationKeyPath[] = "Software\\Merolt_01\\Pimbalo";

// A 32-bit program reads the 32-bit view with KEY_READ alone; a wider build
// must ask for that view explicitly to read the same record.
constexpr uint32_t kInstallationKeyAccess =
    platform::kKeyRead | (sizeof(void*) == 4 ? 0u : platform::kKeyWow64_32Key);

struct InstallationRecord {
  char setuppath[kPathCapacity];  // the application's folder and working directory
  char appfile[kPathCapacity];    // its program file, relative to setuppath
  uint32_t version;               // the installed version
  // How each read ended as kavrel takes it, set when the key opened:
  // kSuccess when the value is used, else why not (see below).
  platform::Status setuppath_status;
  platform::Status appfile_status;
  platform::Status version_status;
};

// Opens the installation key and reads setuppath, appfile and version, all
// three whatever the outcome of the one before. Returns true when the record
// is complete: the key opened and all three reads succeeded. Each
// destination is zero-filled before its read. A text that fills its whole
// destination without a NUL is a failed read (it may have been cut;
// kErrorMoreData); a shorter one stored without its NUL is used as stored.
// A text that is not exactly what the value holds (launcher/exact_text.h) is
// a failed read too (kErrorNoUnicodeTranslation), so that no look-alike path
// is started; a refused text leaves its destination empty. Any other failed
// read has the registry's own status. A version shorter than 4 bytes reads
// as the little-endian number of its bytes.
//
// *key_opened tells whether *key holds an open key; the caller closes it.
bool ReadInstallationRecord(InstallationRecord* record, platform::RegistryKey* key,
                            bool* key_opened);

#endif  // KAVREL_LAUNCHER_INSTALLATION_RECORD_H_
