# Read by cpack before it makes each package. Every file of a package carries one time, that of
# the commit the sources are, so that two package builds of one commit give the same bytes: where
# SOURCE_DATE_EPOCH is not set already and the sources have their .git, it is taken from git. A
# copy of the sources without .git needs SOURCE_DATE_EPOCH set for that.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH} AND EXISTS "${CPACK_VENNHOLT_SOURCE_DIR}/.git")
  execute_process(COMMAND git -C "${CPACK_VENNHOLT_SOURCE_DIR}" log -1 --format=%ct RESULT_VARIABLE failed
                  OUTPUT_VARIABLE epoch ERROR_VARIABLE reason OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(failed)
    message(FATAL_ERROR "The commit's time for the package: git log failed in ${CPACK_VENNHOLT_SOURCE_DIR}: ${reason}")
  endif()
  set(ENV{SOURCE_DATE_EPOCH} ${epoch})
endif()
