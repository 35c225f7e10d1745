# The Debian package of glyphmend-cli (cpack -G DEB in a host build): the
# program, its manual page and the copyright file Debian packages carry.
# With SOURCE_DATE_EPOCH set, every time stamp inside comes from it.
include(GNUInstallDirs)

# The licence in Debian's machine-readable copyright format: the text of
# LICENSE indented by one space, its empty lines written as " .".
file(READ ${CMAKE_SOURCE_DIR}/LICENSE licence)
string(STRIP "${licence}" licence)
string(REPLACE "\n" "\n " licence "${licence}")
string(REPLACE "\n \n" "\n .\n" licence "${licence}")
file(WRITE ${CMAKE_BINARY_DIR}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: Glyphmend

Files: *
Copyright: The Glyphmend authors
License: Expat
 ${licence}
")
install(FILES ${CMAKE_BINARY_DIR}/copyright
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/glyphmend-cli)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME glyphmend-cli)
set(CPACK_PACKAGE_VERSION ${GLYPHMEND_VERSION})
set(CPACK_PACKAGE_VENDOR "The Glyphmend authors")
set(CPACK_PACKAGE_CONTACT "The Glyphmend authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "repairs Cyrillic look-alike letters in files and pipes")
# The summary above is the first line of the package's description; this is
# the rest.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"glyphmend-cli repairs Cyrillic text in which letters were typed or pasted as
look-alikes: a base letter with a combining mark instead of the precomposed
letter, Greek capitals instead of Cyrillic ones, and three Latin letters
instead of Cyrillic small letters. It works as a filter, rewrites files in
place or lists each look-alike with its line and column. Text is UTF-8 or
UTF-16; every other byte passes through unchanged.")
set(CPACK_DEBIAN_PACKAGE_SECTION text)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
