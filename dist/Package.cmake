# The Debian package, built by CPack (scripts/package): build-package/vestrel_<version>_amd64.deb.
# Its version is the project's; its dependencies are computed from the programs (shlibdeps).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vestrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Vestrel maintainers")
set(CPACK_PACKAGE_CONTACT ${VESTREL_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "check and repair the partitions and replicas of an eDirectory tree")
# Lines of the long description stay below 80 characters, as Debian's tools show them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Vestrel is a desktop tool for administrators of an eDirectory (NDS) tree."
  "It scans the tree for its NCP servers and its partitions, shows every"
  "replica ring with its status, vectors and sync errors (failing partitions"
  "in red), and runs the partition and replica operations on one server or"
  "partition: sync the schema or a partition, send or receive all updates,"
  "send a replica, remove a partition or a replica, join a partition to its"
  "parent, repair time stamps and reload DS. Scan results are exported as"
  "XML, HTML or text."
  ""
  "vestrel-check runs the same scans and a health check of the replica rings"
  "without a display, for cron jobs and monitoring systems such as Nagios and"
  "Icinga."
  ""
  "Demo trees are included, so the window shows a tree on its first start.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VESTREL_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${VESTREL_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
# Configure with -DCMAKE_INSTALL_PREFIX=/usr (scripts/package does), so the library folder
# is Debian's multiarch one.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR})
include(CPack)
