# Writes patchtool_version.h: the project's version and the commit the sources are, for
# 'patchtool --version'. Run at every build, so that a new commit needs no new configuration; the
# header is rewritten only when its text changes, so that an unchanged commit rebuilds nothing.
#   cmake -DSOURCE_DIR=DIR -DVERSION=X.Y.Z -DCOMMIT=FALLBACK -DOUTPUT=FILE -P source_commit.cmake
# The commit comes from git where the sources have their .git (a clone or a work tree), otherwise
# from COMMIT (the cache variable VENNHOLT_COMMIT, set for a copy of the sources), otherwise it is
# "unknown". No time goes in: the same sources give the same program.
if(EXISTS "${SOURCE_DIR}/.git")
  execute_process(COMMAND git -C "${SOURCE_DIR}" rev-parse HEAD RESULT_VARIABLE failed
                  OUTPUT_VARIABLE COMMIT ERROR_VARIABLE reason OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(failed)
    message(FATAL_ERROR "patchtool's commit: git rev-parse HEAD failed in ${SOURCE_DIR}: ${reason}")
  endif()
elseif(COMMIT STREQUAL "")
  set(COMMIT unknown)
endif()
file(CONFIGURE OUTPUT "${OUTPUT}" CONTENT [[
#pragma once
// Written by cmake/source_commit.cmake at build time.
inline constexpr char patchtoolVersion[] = "@VERSION@";
inline constexpr char patchtoolCommit[] = "@COMMIT@";
]] @ONLY)
