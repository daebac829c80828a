# Installation and the Debian package.
#
# `cmake --install <build> --prefix P` puts the program, its command line
# (dorvasu-cli), its desktop entry and its icons under P and nothing else of
# the build (no libraries, no tests).
# `cpack -G DEB` in the build folder makes dorvasu_<version>_<arch>.deb from
# the same rules, installed under /usr. Making the package needs dpkg-dev and
# file (dpkg-shlibdeps works out the library dependencies);
# scripts/package.sh installs them.

include(GNUInstallDirs)

install(TARGETS dorvasu dorvasu-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/dorvasu.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 64 256)
  install(FILES ${PROJECT_SOURCE_DIR}/src/gui/app/icons/dorvasu-${size}.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
    RENAME dorvasu.png)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME dorvasu)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Dorvasu developers")
set(CPACK_PACKAGE_CONTACT "Dorvasu developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "rename MP3 files after their tags and edit the tags")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Dorvasu gathers MP3 files into a list and shows beside each the name it\n"
  "would get from its tag: Singer - Title.mp3. It renames the selected\n"
  "files in their own folders, never replacing an existing file, and edits,\n"
  "copies and pastes their tags. The interface is in Japanese.")
# The installed program is stripped; the build keeps its debug information.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Dorvasu developers")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries the program links come from dpkg-shlibdeps. Two needs it cannot
# see: out123 loads its sound output modules (PulseAudio, ALSA) from the
# mpg123 package at run time, and the Japanese captions need a CJK font.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "mpg123, fonts-noto-cjk")

include(CPack)
