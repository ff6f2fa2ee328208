// The rows of the table run one by one, each laid out, run and judged, and
// printed as one line: "ok   NN name -> what started", "FAIL NN name ->
// what should have started: what was wrong", or "skip NN name: why", for a
// row this machine cannot run (expectation.h) or one that rests on a check
// of the kit's own that failed (footing.h).
//
// Wine now and then fails to lay out a row or to create a process before
// any of kavrel's own code runs (a process start fails with
// ERROR_INTERNAL_ERROR, a copy with a file still held): such a row is laid
// out and run once more, and its line says so.
#ifndef KAVREL_TESTS_E2E_TABLE_H_
#define KAVREL_TESTS_E2E_TABLE_H_

#include <string>
#include <vector>

#include "tests/e2e/footing.h"
#include "tests/e2e/rows.h"
#include "tests/e2e/scene.h"

struct Sums {
  int passed = 0;
  int failed = 0;
  int skipped = 0;
};

// kavrel's and kavrel-explain's programs as shipped, and their copies whose
// manifests lack the UTF-8 code page.
struct Programs {
  std::wstring kavrel;
  std::wstring explain;
  std::wstring legacy_kavrel;
  std::wstring legacy_explain;
};

// `utf8` tells whether this Windows takes the UTF-8 code page from a
// manifest; where it does not, every program takes its paths in the
// system's code page, as the copies without it do everywhere.
void RunRows(const std::vector<Case>& cases, const std::wstring& work_folder,
             const Footing& footing, const Bench& bench, const Programs& programs, bool utf8,
             Sums* sums);

#endif  // KAVREL_TESTS_E2E_TABLE_H_
