// The filter a program built from filter tokens, as an LDAP filter (RFC 4515):
// "(Base Class=NCP Server)" becomes "(objectClass=ncpServer)". Attribute and class names
// come from LdapSchema; values are escaped. A comparison LDAP cannot express (a syntax
// without an LDAP matching rule here) becomes a test no entry passes, as a comparison of
// such values passes no object of a tree in memory either.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/nwclient/FilterSearch.h"

namespace vestrel::nw::ldap {

// Turns a name of a filter value into an LDAP DN; false when the name names nothing.
using DnLookup = std::function<bool(const std::string& name, std::string& dn)>;

std::string LdapFilterText(const CompiledFilter& filter, const DnLookup& dnOf);

// A value in a filter: "*", "(", ")", "\" and NUL escaped as "\2a" and so on; with
// keepWildcards "*" stays a wildcard.
std::string EscapeFilterValue(std::string_view value, bool keepWildcards);

// The filter no entry passes.
inline constexpr const char* kMatchNothing = "(!(objectClass=*))";

}  // namespace vestrel::nw::ldap
