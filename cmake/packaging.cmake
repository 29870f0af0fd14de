# What `cmake --install` puts where, and the packages CPack makes from it:
# a Debian package on Linux, a zip on Windows.
include(GNUInstallDirs)

set(CPACK_PACKAGE_NAME vormcfg)
set(CPACK_PACKAGE_VENDOR "The vormcfg developers")
set(CPACK_PACKAGE_CONTACT "The vormcfg developers <maintainers@users.noreply.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "assign network settings to networked sorters over the local network")

if(WIN32)
  # A zip to unpack anywhere: the program, the README and the licence side by side.
  install(TARGETS vormcfg RUNTIME DESTINATION .)
  install(FILES README.md LICENSE DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "vormcfg-${PROJECT_VERSION}-windows-x64")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  # Debian installs man pages and the changelog compressed with gzip -9n:
  # no name or time stamp in the header, so that the same sources make the
  # same package.
  find_program(GZIP_PROGRAM gzip REQUIRED)
  set(GZIPPED_DIR ${CMAKE_BINARY_DIR}/gzipped)
  set(GZIPPED_FILES "")
  foreach(source man/vormcfg.1 man/sorter-sim.1 contrib/debian/changelog)
    get_filename_component(name ${source} NAME)
    add_custom_command(OUTPUT ${GZIPPED_DIR}/${name}.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/${source} ${GZIPPED_DIR}/${name}
      COMMAND ${GZIP_PROGRAM} -9nf ${GZIPPED_DIR}/${name}
      DEPENDS ${PROJECT_SOURCE_DIR}/${source}
      VERBATIM)
    list(APPEND GZIPPED_FILES ${GZIPPED_DIR}/${name}.gz)
  endforeach()
  add_custom_target(gzipped_docs ALL DEPENDS ${GZIPPED_FILES})

  install(TARGETS vormcfg sorter-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${GZIPPED_DIR}/vormcfg.1.gz ${GZIPPED_DIR}/sorter-sim.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES contrib/bash-completion/vormcfg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
  # Wireshark's global folder for Lua plugins (Debian keeps it under the
  # multiarch library folder whatever the install prefix).
  set(WIRESHARK_LUA_PLUGIN_DIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}/wireshark/plugins" CACHE STRING
      "where the Wireshark dissector is installed, relative to the prefix")
  install(FILES contrib/wireshark/vormcfg.lua DESTINATION ${WIRESHARK_LUA_PLUGIN_DIR})
  # The licence is in the copyright file, where Debian looks for it; a
  # native package's changelog is changelog.gz.
  install(FILES README.md contrib/debian/copyright ${GZIPPED_DIR}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR})

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SECTION net)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "bash-completion")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "wireshark | tshark")
  set(CPACK_STRIP_FILES ON)
  set(CPACK_PACKAGE_DESCRIPTION
"vormcfg gives networked sorters their IP address, subnet mask, gateway and
DHCP setting over the local network. It lists the sorters it hears
broadcasting on UDP port 50003, answers the one named by its serial number
with a configuration datagram, and can send that datagram straight to a
known address when a firewall keeps the broadcasts away.

The package also holds sorter-sim, a simulator of sorters for tests and
demonstrations, a bash completion and a Wireshark dissector for the
configuration datagram.")
endif()

include(CPack)
