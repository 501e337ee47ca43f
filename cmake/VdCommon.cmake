# One interface target carries the language level, the warnings and the sanitizers,
# so every library, tool and test is built the same way.
add_library(vd_common INTERFACE)
target_compile_features(vd_common INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)
target_compile_options(vd_common INTERFACE -Wall -Wextra -Wpedantic -Werror)
# GCC 12 at -O3 reports overlapping copies inside std::string's own concatenation, where none
# can happen (a known false positive of that release); it would stop every release build.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(vd_common INTERFACE -Wno-restrict)
endif()

if(VD_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "VD_FUZZ needs clang (libFuzzer); configure with -DCMAKE_CXX_COMPILER=clang++")
  endif()
  if(NOT VD_SANITIZE STREQUAL "")
    message(FATAL_ERROR "VD_FUZZ brings its own sanitizers; leave VD_SANITIZE empty")
  endif()
  # Everything is instrumented for coverage and checked by ASan + UBSan; only the fuzz targets
  # link libFuzzer's driver (-fsanitize=fuzzer). -O1 keeps the build short and the stacks readable.
  target_compile_options(vd_common INTERFACE -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                                             -fno-sanitize-recover=undefined -O1 -g)
  target_link_options(vd_common INTERFACE -fsanitize=address,undefined)
elseif(VD_SANITIZE STREQUAL "address,undefined")
  target_compile_options(vd_common INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                             -fno-sanitize-recover=undefined)
  target_link_options(vd_common INTERFACE -fsanitize=address,undefined)
elseif(VD_SANITIZE STREQUAL "thread")
  # Asio issues standalone fences, which GCC warns that ThreadSanitizer does not model.
  target_compile_options(vd_common INTERFACE -fsanitize=thread -fno-omit-frame-pointer -Wno-tsan)
  target_link_options(vd_common INTERFACE -fsanitize=thread)
elseif(NOT VD_SANITIZE STREQUAL "")
  message(FATAL_ERROR "VD_SANITIZE must be empty, address,undefined or thread (got '${VD_SANITIZE}')")
endif()

if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "Build type" FORCE)
endif()
