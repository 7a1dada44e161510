# How Vestrel is installed: GNU folders under the prefix, its own data and library folders,
# the names desktops know it by, and the release that the package and metadata describe.
include(GNUInstallDirs)

# The one release: the window, vestrel-check, the package and the desktop metadata take
# their version from project() in CMakeLists.txt and their date from here.
set(VESTREL_RELEASE_DATE 2026-12-08)
# The name desktops know Vestrel by (desktop entry, icon, metadata, window grouping). The
# project has no domain of its own yet: .example is the reserved placeholder.
set(VESTREL_APP_ID example.vestrel.Vestrel)
set(VESTREL_HOMEPAGE https://vestrel.example/)
# Installed folders: the data (Info text, demo trees) and the error-text library.
set(VESTREL_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/vestrel)
set(VESTREL_INSTALL_LIBDIR ${CMAKE_INSTALL_LIBDIR}/vestrel)
# The systemd units of vestrel-check's timer (under /usr, which Debian merges with /lib),
# and examples such as the Grafana dashboard.
set(VESTREL_INSTALL_SYSTEMDDIR lib/systemd/system)
set(VESTREL_INSTALL_EXAMPLESDIR ${CMAKE_INSTALL_DATADIR}/doc/vestrel/examples)
# The programs find them from their own folder, so an install moved elsewhere (DESTDIR,
# a relocated package) works as well as one in its prefix.
file(RELATIVE_PATH VESTREL_DATA_FROM_BINDIR ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_DATADIR}/vestrel)
file(RELATIVE_PATH VESTREL_LIBRARY_FROM_BINDIR ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR}/vestrel)

# vestrel_install_manual_page(<name>.1): installed compressed, as Debian's policy asks;
# a change to the page compresses it again at the next build.
function(vestrel_install_manual_page page)
  set(source ${CMAKE_CURRENT_SOURCE_DIR}/${page})
  set(compressed ${CMAKE_CURRENT_BINARY_DIR}/${page}.gz)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  execute_process(COMMAND gzip -9 --no-name --stdout ${source} OUTPUT_FILE ${compressed} COMMAND_ERROR_IS_FATAL ANY)
  install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

# Who answers for the package (its control file, change log and copyright).
set(VESTREL_MAINTAINER "Vestrel maintainers <maintainers@users.noreply.c-seed-e13bea8e.example>")
