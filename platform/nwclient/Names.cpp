// Object names: resolving what a caller passes against the context's name context, and
// giving names back in the context's form (typed or typeless, abbreviated or full).
#include <cstring>

#include "platform/nwclient/Engine.h"

namespace vestrel::nw {

namespace {

constexpr int kMaxAliasHops = 16;

bool IsRootName(const std::string& name) { return EqualsNoCase(name, "[Root]"); }

std::vector<std::string> Components(const std::string& fullName) {
  std::vector<std::string> result;
  std::vector<NamePart> parts;
  if (IsRootName(fullName) || !SplitName(fullName, parts)) return result;
  for (NamePart& part : parts) result.push_back(std::move(part.text));
  return result;
}

std::string Join(const std::vector<std::string>& parts, std::size_t from, std::size_t to) {
  std::string result;
  for (std::size_t i = from; i < to; ++i) result += (result.empty() ? "" : ".") + parts[i];
  return result.empty() ? "[Root]" : result;
}

// "CN=a.OU=b.O=c": typed components of an object, or default types for a name the
// source does not know (first CN, last O, OU between).
std::vector<std::string> TypedComponents(const NameBook& names, const std::string& fullName) {
  std::vector<std::string> typed;
  std::string spelling;
  if (names.KnownName(fullName, typed, spelling)) return typed;
  std::vector<NamePart> parts;
  if (!SplitName(fullName, parts)) return {fullName};
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const char* type = parts[i].hasType ? NameTypeText(parts[i].type) : i == 0 ? "CN" : i + 1 == parts.size() ? "O" : "OU";
    typed.push_back(std::string(type) + "=" + parts[i].text);
  }
  return typed;
}

}  // namespace

bool CopyOut(const std::string& text, char* out, std::size_t room) {
  if (!out || text.size() + 1 > room) return false;
  std::memcpy(out, text.c_str(), text.size() + 1);
  return true;
}

NWRCODE FullInputName(const Context& context, const char* name, std::string& fullName) {
  if (!name) return ERR_NULL_POINTER;
  std::string text = name;
  if (text.empty()) return ERR_INVALID_OBJECT_NAME;
  if (text.size() > MAX_DN_CHARS) return ERR_DN_TOO_LONG;
  if (IsRootName(text[0] == '.' ? text.substr(1) : text)) {
    fullName = "[Root]";
    return 0;
  }
  if (text == "[This]") {
    fullName = context.nameContext;
    return 0;
  }
  if (text == "[Public]" || text == "[Supervisor]") {
    fullName = text;
    return 0;
  }
  std::vector<std::string> base = Components(context.nameContext);
  std::size_t up = 0;
  if (text[0] == '.') {
    text.erase(0, 1);
    base.clear();
    if (!text.empty() && text.back() == '.') return ERR_INVALID_OBJECT_NAME;
  } else {
    // Each trailing dot climbs one level above the name context.
    while (!text.empty() && text.back() == '.') {
      text.pop_back();
      ++up;
    }
    if (up > base.size()) return ERR_INVALID_OBJECT_NAME;
  }
  std::vector<NamePart> parts;
  if (!SplitName(text, parts)) return ERR_INVALID_OBJECT_NAME;
  std::vector<std::string> all;
  for (NamePart& part : parts) all.push_back(std::move(part.text));
  all.insert(all.end(), base.begin() + static_cast<std::ptrdiff_t>(up), base.end());
  fullName = Join(all, 0, all.size());
  if (fullName.size() > MAX_DN_CHARS) return ERR_DN_TOO_LONG;
  return 0;
}

NWRCODE ResolveName(const Tree& tree, const Context& context, const char* name, Object*& object) {
  std::string fullName;
  if (NWRCODE code = FullInputName(context, name, fullName)) return code;
  object = tree.Find(fullName);
  if (!object) return ERR_NO_SUCH_ENTRY;
  if (!(context.flags & DCV_DEREF_ALIASES)) return 0;
  for (int hop = 0; object->IsAlias(); ++hop) {
    if (hop == kMaxAliasHops) return ERR_NO_SUCH_ENTRY;  // a ring of aliases
    object = tree.Find(object->aliasTarget);
    if (!object) return ERR_NO_SUCH_ENTRY;
  }
  return 0;
}

std::string CanonicalOutputName(const NameBook& names, const Context& context, const std::string& fullName) {
  if (IsRootName(fullName) || fullName.empty() || fullName[0] == '[') return IsRootName(fullName) ? "[Root]" : fullName;
  std::vector<std::string> parts = (context.flags & DCV_TYPELESS_NAMES) ? Components(fullName) : TypedComponents(names, fullName);
  if (parts.empty()) return fullName;
  if (context.flags & DCV_TYPELESS_NAMES) {
    // The directory's own spelling of the name.
    std::vector<std::string> typed;
    std::string spelling;
    if (names.KnownName(fullName, typed, spelling)) return spelling;
  }
  return Join(parts, 0, parts.size());
}

std::string OutputName(const NameBook& names, const Context& context, const std::string& fullName) {
  std::string canonical = CanonicalOutputName(names, context, fullName);
  if (!(context.flags & DCV_CANONICALIZE_NAMES) || IsRootName(context.nameContext) || canonical.empty() ||
      canonical[0] == '[')
    return canonical;
  std::vector<std::string> name = Components(fullName);
  std::vector<std::string> base = Components(context.nameContext);
  bool below = name.size() > base.size();
  for (std::size_t i = 0; below && i < base.size(); ++i)
    below = EqualsNoCase(name[name.size() - base.size() + i], base[i]);
  if (!below) return "." + canonical;
  // Keep the leading components of the canonical spelling (with their types).
  std::string result;
  std::size_t keep = name.size() - base.size();
  std::size_t start = 0;
  for (std::size_t i = 0; i < keep; ++i) {
    std::size_t dot = canonical.find('.', start);
    if (!result.empty()) result += '.';
    result.append(canonical, start, dot - start);
    start = dot + 1;
  }
  return result;
}

}  // namespace vestrel::nw
