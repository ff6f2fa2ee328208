// The driver's `demo`: kavrel in three everyday situations, and what
// started. kavrel lies in C:\kavrel with the installer program beside it
// and, when recorded, the application in C:\Pimbalo; the situations' own
// folders are in C:\kavrel-demo. Each of the three is made new, with the
// work folder's permissions (permissions.h); one that is there already is
// refused, and nothing is done. At the end the three and the record are
// removed. Exit 0 when each situation ran, else 1.
#ifndef KAVREL_TESTS_E2E_DEMO_H_
#define KAVREL_TESTS_E2E_DEMO_H_

#include <string>

int RunDemo(const std::wstring& kavrel_source);

#endif  // KAVREL_TESTS_E2E_DEMO_H_
