#include "explain/explain_manifest.h"

#include <map>
#include <utility>
#include <vector>

#include "explain/explain_text.h"

namespace explain {
namespace {

using Attributes = std::map<std::string, std::string>;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool EndsName(char c) { return IsSpace(c) || c == '=' || c == '/' || c == '>'; }

// "asmv3:requestedPrivileges" is known as "requestedPrivileges".
std::string LocalName(const std::string& name) {
  const size_t colon = name.rfind(':');
  return colon == std::string::npos ? name : name.substr(colon + 1);
}

// A text of the manifest as kavrel-explain shows texts.
std::string Quoted(const std::string& text) { return QuoteBytes(text.data(), text.size()); }

ManifestLevel CannotTell(const std::string& why) {
  ManifestLevel reading;
  reading.why = why;
  return reading;
}

// What is not well-formed, as a reason for CannotTell.
std::string NotWellFormed(const std::string& what) {
  return "it is not well-formed XML (" + what +
         "), and Windows may refuse to create a program for a manifest it cannot read";
}

// Walks the manifest's markup from one '<' to the next. Each step returns
// why reading cannot tell, or nothing.
class Scanner {
 public:
  explicit Scanner(std::string text) : text_(std::move(text)) {}

  // Reads all of it; afterwards `Found` holds the requestedExecutionLevel
  // elements met inside requestedPrivileges, with their attributes.
  std::string Scan() {
    while ((at_ = text_.find('<', at_)) != std::string::npos) {
      bool skipped = false;
      std::string why = SkipMarkupWithoutElements(&skipped);
      if (why.empty() && !skipped) {
        if (text_.compare(at_, 2, "<!") == 0) {
          return "it holds a document type declaration, which may define what it means";
        }
        why = text_.compare(at_, 2, "</") == 0 ? EndTag() : StartTag();
      }
      if (!why.empty()) return why;
    }
    if (!open_.empty()) return NotWellFormed("element " + Quoted(open_.back()) + " not closed");
    return std::string();
  }

  [[nodiscard]] const std::vector<Attributes>& Found() const { return found_; }

 private:
  // Comments, CDATA sections and processing instructions, skipped whole.
  std::string SkipMarkupWithoutElements(bool* skipped) {
    const std::pair<std::string, std::string> kinds[] = {
        {"<!--", "-->"}, {"<![CDATA[", "]]>"}, {"<?", "?>"}};
    for (const auto& [begin, end] : kinds) {
      if (text_.compare(at_, begin.size(), begin) != 0) continue;
      const size_t closed = text_.find(end, at_ + begin.size());
      if (closed == std::string::npos) return NotWellFormed(begin + " not closed");
      at_ = closed + end.size();
      *skipped = true;
      break;
    }
    return std::string();
  }

  std::string EndTag() {
    at_ += 2;
    const std::string name = Name();
    SkipSpace();
    if (at_ >= text_.size() || text_[at_] != '>' || open_.empty() || open_.back() != name) {
      return NotWellFormed("an end tag that closes no open element");
    }
    open_.pop_back();
    ++at_;
    return std::string();
  }

  std::string StartTag() {
    ++at_;
    const std::string name = Name();
    if (name.empty()) return NotWellFormed("a '<' that begins no tag");
    Attributes attributes;
    bool empty_element = false;
    for (;;) {
      SkipSpace();
      if (at_ >= text_.size()) return NotWellFormed("a tag not closed");
      if (text_[at_] == '>' || text_.compare(at_, 2, "/>") == 0) {
        empty_element = text_[at_] == '/';
        at_ += empty_element ? 2 : 1;
        break;
      }
      std::string why = Attribute(&attributes);
      if (!why.empty()) return why;
    }
    if (LocalName(name) == "requestedExecutionLevel") {
      if (open_.empty() || LocalName(open_.back()) != "requestedPrivileges") {
        return "it names requestedExecutionLevel outside requestedPrivileges";
      }
      found_.push_back(attributes);
    }
    if (!empty_element) open_.push_back(name);
    return std::string();
  }

  // name = "value" or name='value', white space allowed around "=".
  std::string Attribute(Attributes* attributes) {
    const std::string name = Name();
    SkipSpace();
    if (name.empty() || at_ >= text_.size() || text_[at_] != '=') {
      return NotWellFormed("an attribute without '='");
    }
    ++at_;
    SkipSpace();
    if (at_ >= text_.size() || (text_[at_] != '"' && text_[at_] != '\'')) {
      return NotWellFormed("an attribute value not in quotes");
    }
    const size_t end = text_.find(text_[at_], at_ + 1);
    if (end == std::string::npos) return NotWellFormed("an attribute value not closed");
    const std::string value = text_.substr(at_ + 1, end - at_ - 1);
    at_ = end + 1;
    if (value.find('<') != std::string::npos) return NotWellFormed("a '<' in an attribute value");
    if (!attributes->emplace(LocalName(name), value).second) {
      return NotWellFormed("an attribute given twice");
    }
    return std::string();
  }

  std::string Name() {
    const size_t begin = at_;
    while (at_ < text_.size() && !EndsName(text_[at_])) ++at_;
    return text_.substr(begin, at_ - begin);
  }

  void SkipSpace() {
    while (at_ < text_.size() && IsSpace(text_[at_])) ++at_;
  }

  std::string text_;
  size_t at_ = 0;
  std::vector<std::string> open_;  // the elements open around `at_`, outermost first
  std::vector<Attributes> found_;
};

// The level that the attributes of the one requestedExecutionLevel ask for.
ManifestLevel LevelOf(const Attributes& attributes) {
  const auto level = attributes.find("level");
  if (level == attributes.end()) return CannotTell("its requestedExecutionLevel has no level");
  if (level->second != "asInvoker" && level->second != "highestAvailable" &&
      level->second != "requireAdministrator") {
    return CannotTell("it asks for level " + Quoted(level->second) +
                      ", which Windows does not know");
  }
  const auto ui_access = attributes.find("uiAccess");
  if (ui_access != attributes.end() && ui_access->second != "false") {
    return CannotTell("it asks for uiAccess " + Quoted(ui_access->second) +
                      ", which Windows grants only to a signed program in a protected folder");
  }
  ManifestLevel reading;
  reading.told = true;
  reading.level = level->second;
  return reading;
}

}  // namespace

ManifestLevel ReadExecutionLevel(const std::string& manifest) {
  std::string text = manifest;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  if (text.find('\0') != std::string::npos || text.compare(0, 2, "\xFF\xFE") == 0 ||
      text.compare(0, 2, "\xFE\xFF") == 0) {
    return CannotTell("it is not in UTF-8, the one encoding kavrel-explain reads");
  }
  Scanner scanner(text);
  const std::string why = scanner.Scan();
  if (!why.empty()) return CannotTell(why);
  const std::vector<Attributes>& found = scanner.Found();
  if (found.size() > 1) return CannotTell("it names requestedExecutionLevel more than once");
  if (found.size() == 1) return LevelOf(found[0]);
  ManifestLevel none;
  none.told = true;
  return none;
}

}  // namespace explain
