# Where an installation of patchtool puts its files. On Linux the GNU layout below the prefix:
# bin/patchtool, its manual page, share/doc/vennholt-patchtool/README.md and the stub
# share/vennholt-patch/setup.exe. On Windows one folder, as the zip holds it: patchtool.exe with
# setup.exe and README.txt beside it.
set(VENNHOLT_PACKAGE_NAME vennholt-patchtool)
if(WIN32)
  set(VENNHOLT_BIN_DIR .)
  set(VENNHOLT_STUB_DIR .)
else()
  include(GNUInstallDirs)
  set(VENNHOLT_BIN_DIR ${CMAKE_INSTALL_BINDIR})
  set(VENNHOLT_STUB_DIR ${CMAKE_INSTALL_DATADIR}/vennholt-patch)
  set(VENNHOLT_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${VENNHOLT_PACKAGE_NAME})
endif()
# The stub seen from the installed patchtool's folder, where the tool looks for it.
file(RELATIVE_PATH VENNHOLT_STUB_FROM_BIN /prefix/${VENNHOLT_BIN_DIR} /prefix/${VENNHOLT_STUB_DIR}/setup.exe)
