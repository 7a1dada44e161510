// Small owners of OpenLDAP's objects: whatever path a function leaves by, what libldap
// handed out is given back to it.
#pragma once

#include <ldap.h>

#include <memory>

namespace vestrel::nw::ldap {

struct SessionDeleter {
  void operator()(LDAP* ld) const { ldap_unbind_ext(ld, nullptr, nullptr); }
};
using Session = std::unique_ptr<LDAP, SessionDeleter>;

struct MessageDeleter {
  void operator()(LDAPMessage* message) const { ldap_msgfree(message); }
};
using Message = std::unique_ptr<LDAPMessage, MessageDeleter>;

struct ControlsDeleter {
  void operator()(LDAPControl** controls) const { ldap_controls_free(controls); }
};
using Controls = std::unique_ptr<LDAPControl*, ControlsDeleter>;

// A position in an entry's attributes (ldap_first_attribute, ldap_get_dn_ber).
struct BerDeleter {
  void operator()(BerElement* ber) const { ber_free(ber, 0); }
};
using BerPosition = std::unique_ptr<BerElement, BerDeleter>;

// Texts and arrays of values libldap allocates (names, diagnostics, ldap_get_attribute_ber).
struct MemoryDeleter {
  void operator()(void* memory) const { ber_memfree(memory); }
};
using Text = std::unique_ptr<char, MemoryDeleter>;

struct BervalDeleter {
  void operator()(berval* value) const { ber_bvfree(value); }
};
using Berval = std::unique_ptr<berval, BervalDeleter>;

struct ValuesDeleter {
  void operator()(berval** values) const { ldap_value_free_len(values); }
};
using Values = std::unique_ptr<berval*, ValuesDeleter>;

}  // namespace vestrel::nw::ldap
