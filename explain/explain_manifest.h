// The execution level a program's application manifest asks for, read as
// XML: comments, processing instructions and CDATA sections hold no
// elements, white space may stand around "=", and an attribute value may be
// in double or single quotes. Where the manifest is not what this reading
// can be sure of, it says that it cannot tell, never a level it guessed.
// Needs no Windows.
#ifndef KAVREL_EXPLAIN_EXPLAIN_MANIFEST_H_
#define KAVREL_EXPLAIN_EXPLAIN_MANIFEST_H_

#include <string>

namespace explain {

struct ManifestLevel {
  // False when reading cannot tell what Windows makes of the manifest; `why`
  // then says why.
  bool told = false;
  // The level attribute of the requestedExecutionLevel element inside
  // requestedPrivileges ("asInvoker", "highestAvailable" or
  // "requireAdministrator"); empty when the manifest has no such element.
  std::string level;
  std::string why;
};

// Reads `manifest`, the bytes of the manifest resource. It cannot tell when
// the text is not UTF-8 (or ASCII), is not well-formed as far as elements,
// comments and attributes go, holds a document type or an entity reference
// in a value it needs, names the element more than once or outside
// requestedPrivileges, asks for a level Windows does not know, or asks for
// uiAccess="true". Namespaces are not checked: an element is known by its
// local name.
ManifestLevel ReadExecutionLevel(const std::string& manifest);

}  // namespace explain

#endif  // KAVREL_EXPLAIN_EXPLAIN_MANIFEST_H_
