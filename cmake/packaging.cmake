# Installing patchtool with its stub, and the packages made of that installation by CPack: the
# Debian package from the Linux tree, the zip from the 64-bit Windows tree (cmake/install_layout.cmake
# says where each file goes). The 32-bit Windows tree builds the stub and installs nothing.
if(WIN32 AND NOT CMAKE_SIZEOF_VOID_P EQUAL 8)
  return()
endif()
if(VENNHOLT_SANITIZE)
  # The sanitizer build is the tests' own: many times slower, and it needs the sanitizers' runtime.
  install(CODE "message(FATAL_ERROR \"This is the test build, with sanitizers: install from the native-release preset\")")
  return()
endif()

# One tree has one toolchain, so the shipping i686 stub comes from the win32 tree, built beforehand.
set(VENNHOLT_STUB ${CMAKE_SOURCE_DIR}/build/win32/setup.exe CACHE FILEPATH
    "The shipping setup.exe that is installed as patchtool's stub (the win32 preset's)")
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)
install(CODE "
  if(NOT EXISTS \"${VENNHOLT_STUB}\")
    message(FATAL_ERROR \"The stub ${VENNHOLT_STUB} has not been built: build it first (cmake --preset \"
                        \"win32 && cmake --build --preset win32 --target setup), or name another with -DVENNHOLT_STUB=FILE\")
  endif()")
install(TARGETS patchtool RUNTIME DESTINATION ${VENNHOLT_BIN_DIR})
install(FILES ${VENNHOLT_STUB} DESTINATION ${VENNHOLT_STUB_DIR} RENAME setup.exe)
if(WIN32)
  # A README that Notepad shows with its line breaks.
  file(READ ${CMAKE_SOURCE_DIR}/README.md readme)
  string(REPLACE "\n" "\r\n" readme "${readme}")
  file(WRITE ${CMAKE_BINARY_DIR}/README.txt "${readme}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/README.md)
  install(FILES ${CMAKE_BINARY_DIR}/README.txt DESTINATION .)
else()
  install(FILES ${CMAKE_BINARY_DIR}/tools/patchtool/patchtool.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${VENNHOLT_DOC_DIR})
endif()

set(CPACK_PACKAGE_NAME ${VENNHOLT_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR Halvorn)
set(CPACK_PACKAGE_CONTACT Halvorn)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "builds, checks and test-applies Vennholt update patches")
set(CPACK_STRIP_FILES ON)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/cmake/package_time.cmake)
set(CPACK_VENNHOLT_SOURCE_DIR ${CMAKE_SOURCE_DIR})
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ${VENNHOLT_PACKAGE_NAME}-${PROJECT_VERSION}-win64)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION devel)
  # The libraries the release build links dynamically, with the versions it needs (dpkg-shlibdeps).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "patchtool is the publisher's tool for the Vennholt updater, setup.exe: it builds a
patch from two release folders (or from the files given) onto the shipping setup.exe,
which this package installs, lists and verifies patches, applies one to a folder as
the updater would, checks a player's install against its version list and writes
version lists.")
endif()
include(CPack)
