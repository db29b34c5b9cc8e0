# The manual page, the changelog and the licence installed as Debian wants
# them, and the Debian package: the deb workflow, or cpack -G DEB in a
# release build.

# The manual page and the changelog compressed with gzip -9n, the licence in
# its machine-readable form. Without gzip (not a Debian machine) they are
# installed as they are.
find_program(GZIP gzip)
set(man_page ${PROJECT_SOURCE_DIR}/tallyfix.1)
set(changelog ${PROJECT_SOURCE_DIR}/packaging/changelog)
if(GZIP)
  foreach(file IN ITEMS man_page changelog)
    get_filename_component(name ${${file}} NAME)
    execute_process(COMMAND ${GZIP} -9nc ${${file}} OUTPUT_FILE ${PROJECT_BINARY_DIR}/${name}.gz
                    COMMAND_ERROR_IS_FATAL ANY)
    set(${file} ${PROJECT_BINARY_DIR}/${name}.gz)
  endforeach()
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tallyfix.1
                                                               ${PROJECT_SOURCE_DIR}/packaging/changelog)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
string(REGEX REPLACE ".*Copyright \\(c\\) ([^\n]*).*" "\\1" holder "${licence}")
string(FIND "${licence}" "Permission" terms_start)
string(SUBSTRING "${licence}" ${terms_start} -1 terms)
string(STRIP "${terms}" terms)
string(REPLACE "\n\n" "\n.\n" terms "${terms}")
string(REPLACE "\n" "\n " terms "${terms}")
file(WRITE ${PROJECT_BINARY_DIR}/copyright
     "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
     "Upstream-Name: tallyfix\n\nFiles: *\nCopyright: ${holder}\nLicense: Expat\n ${terms}\n")
install(FILES ${man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${changelog} ${PROJECT_BINARY_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_PACKAGE_CONTACT "The tallyfix developers <dev@tallyfix.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "recompute the checksums of Intel HEX and S-record files")
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
       "tallyfix rewrites an Intel HEX or Motorola S-record file whose data bytes\n"
       "were edited by hand, with the checksum of every data record recomputed and\n"
       "every other byte, line ends included, exactly as it was: for firmware\n"
       "images, EEPROM dumps and boot loaders patched in a text editor.")
set(CPACK_STRIP_FILES ON)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_NAME STREQUAL "Linux")
  # For another processor dpkg-shlibdeps cannot look the C library up: the
  # package depends on the version of the one it was built against.
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
  else()
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)
  endif()
  file(STRINGS ${CMAKE_FIND_ROOT_PATH}/include/features.h glibc REGEX "define[ \t]+__GLIBC_")
  string(REGEX REPLACE ".*__GLIBC__[ \t]+([0-9]+).*__GLIBC_MINOR__[ \t]+([0-9]+).*" "\\1.\\2"
                       glibc "${glibc}")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= ${glibc})")
else()
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
include(CPack)
