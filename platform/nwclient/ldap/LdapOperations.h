// Which of the ten partition and replica operations eDirectory's LDAP interface carries
// (as extended requests), and for the others why not and what does them on the server.
#pragma once

#include <string>

#include "platform/nwclient/Source.h"

namespace vestrel::nw::ldap {

// True for the six with an extended request (reason cleared); false for the four without
// one, with reason: "Not available over LDAP: ..." and the tool to use instead.
bool CarriedOverLdap(Operation operation, std::string& reason);

}  // namespace vestrel::nw::ldap
