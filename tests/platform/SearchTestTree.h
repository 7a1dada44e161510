// A small tree for filter and search tests: an organisation with two units, users with
// values of most comparable syntaxes, a group, an alias, two servers and two partitions.
#pragma once

namespace vestrel::testing {

inline constexpr const char* kSearchTreeJson = R"json({
  "tree": "ORG_TREE",
  "clock": "2024-05-06T08:00:00Z",
  "defaultCreator": "admin.ORG",
  "schema": { "Name": 3, "a": 3, "Badge": 9, "Shoe Size": 8 },
  "objects": [
    { "name": "ORG", "class": "Organization" },
    { "name": "Sales.ORG", "class": "Organizational Unit" },
    { "name": "Lab.ORG", "class": "Organizational Unit" },
    { "name": "admin.ORG", "class": "User", "modified": "2024-05-01",
      "attributes": { "Surname": "Admin", "Title": "Chief  Admin", "Login Disabled": false,
        "Login Grace Limit": 6, "Badge": "0A 0B", "Language": [["English", "German"]],
        "Last Login Time": "2024-05-01T10:00:00Z", "Telephone Number": "+1 555-0100",
        "Group Membership": "Staff.ORG", "a": "b=c", "Name": "x" } },
    { "name": "jdoe.Sales.ORG", "class": "User",
      "attributes": { "Surname": "Doe", "Login Disabled": true, "Login Grace Limit": 12,
        "Badge": "0A 0C", "Last Login Time": "2024-04-01T10:00:00Z", "Group Membership": "Staff.ORG" } },
    { "name": "mroe.Lab.ORG", "class": "User", "attributes": { "Surname": "roe", "Login Grace Limit": -3 } },
    { "name": "Staff.ORG", "class": "Group", "attributes": { "Member": ["admin.ORG", "jdoe.Sales.ORG"] } },
    { "name": "Boss.Sales.ORG", "aliasOf": "admin.ORG" }
  ],
  "servers": [
    { "name": "SRV1.ORG", "version": "Novell NetWare 6.5", "dsRevision": 20217 },
    { "name": "SRV2.Lab.ORG", "version": "Novell NetWare 6.5", "dsRevision": 20217 }
  ],
  "partitions": [
    { "root": "[Root]", "replicas": [ { "server": "SRV1.ORG" } ] },
    { "root": "Lab.ORG", "replicas": [ { "server": "SRV2.Lab.ORG" }, { "server": "SRV1.ORG" } ] }
  ]
})json";

}  // namespace vestrel::testing
