// Reading attribute values as display text, one line per value: plain attributes,
// pseudo-attributes of the object (CONTEXT, RDN, CLASS, createTimeStamp,
// modifyTimestamp) and chains written with "|" that follow the names one attribute holds.
#pragma once

#include <string>

#include "directory/D_AttrInfo.h"
#include "directory/NTypes.h"
#include "util/TextList.h"

namespace vestrel {

// Appends the lines of every value of attrName of objectName to lines. Works on a clone
// of context. raw (capacity bytes, optional) receives a copy of each value in turn and
// capacity the value's size; info (optional) the details of the values.
NWRCODE ReadAttrValues(NWDSContextHandle context, const std::string& objectName, const std::string& attrName,
                       TextList& lines, int& capacity, void* raw = nullptr, AttrValueInfo* info = nullptr);
// ReadAttrValues without raw copy and details; lines is appended to.
NWRCODE ReadAttrToList(NWDSContextHandle context, const std::string& objectName, const std::string& attrName,
                       TextList& lines);
// The lines of an attribute path; lines is replaced by them.
NWRCODE ReadAttrPath(NWDSContextHandle context, const std::string& objectName, const std::string& path,
                     void* raw, int& capacity, TextList& lines);
// The lines of a path as one text: each line between prefix and suffix, joined by
// separator. text is left untouched on failure.
NWRCODE ReadAttrText(NWDSContextHandle context, const std::string& objectName, const std::string& path,
                     std::string& text, const std::string& prefix, const std::string& suffix,
                     const std::string& separator);
// The lines joined by CR LF.
NWRCODE ReadAttrLines(NWDSContextHandle context, const std::string& objectName, const std::string& path,
                      std::string& text);

// Copies one value into raw (zero-filled over capacity bytes first): the octets of an
// octet string, a path with newly allocated texts (the caller frees them with free()),
// the value memory otherwise. capacity becomes the value's size. info gives the syntax
// id and size of the value.
void CopyRawValue(int valueIndex, const void* value, int& capacity, const AttrValueInfo& info, void* raw);

// "cn=admin,ou=Sales,o=Acme" -> "admin.Sales.Acme".
std::string LdapToDotName(const std::string& name);

}  // namespace vestrel
