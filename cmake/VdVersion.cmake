# The version every program prints and the About window shows: the project version, and as the
# build number the commit count of the checkout, with the commit itself. Written at each build
# (not only at configure time), so a new commit never leaves a stale number behind; the header
# is rewritten only when its content changes, so nothing rebuilds needlessly.
# VD_BUILD_NUMBER, when set, replaces the commit count (for builds outside a git checkout).
set(VD_BUILD_NUMBER "" CACHE STRING "Build number (empty: the commit count of the git checkout)")
set(VD_VERSION_DIR "${CMAKE_BINARY_DIR}/generated")

add_custom_target(vd_version_header
  COMMAND "${CMAKE_COMMAND}"
          -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
          -DOUTPUT=${VD_VERSION_DIR}/VdVersion.h
          -DVERSION=${PROJECT_VERSION}
          -DBUILD_NUMBER=${VD_BUILD_NUMBER}
          -P "${CMAKE_CURRENT_LIST_DIR}/WriteVersion.cmake"
  BYPRODUCTS "${VD_VERSION_DIR}/VdVersion.h"
  COMMENT "Version header"
  VERBATIM)

add_library(vd_version INTERFACE)
target_include_directories(vd_version INTERFACE "${VD_VERSION_DIR}")
add_dependencies(vd_version vd_version_header)
