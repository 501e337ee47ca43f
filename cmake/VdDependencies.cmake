# Every dependency comes from a Debian package (scripts/setup installs them).
find_package(Threads REQUIRED)
find_package(simdjson REQUIRED)
find_package(nlohmann_json 3.10 REQUIRED)
find_package(CLI11 REQUIRED)

# The content codings of bodies. The encoders serve the simulator, the tests and the benchmarks,
# which make real coded bodies; Brotli and Zstandard come with pkg-config files only.
find_package(ZLIB REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(BROTLIDEC REQUIRED IMPORTED_TARGET libbrotlidec)
pkg_check_modules(BROTLIENC REQUIRED IMPORTED_TARGET libbrotlienc)
pkg_check_modules(ZSTD REQUIRED IMPORTED_TARGET libzstd)

# Standalone Asio ships headers only and no CMake package.
find_path(ASIO_INCLUDE_DIR asio.hpp REQUIRED)
add_library(vd_asio INTERFACE)
target_include_directories(vd_asio SYSTEM INTERFACE "${ASIO_INCLUDE_DIR}")
target_compile_definitions(vd_asio INTERFACE ASIO_STANDALONE ASIO_NO_DEPRECATED)
target_link_libraries(vd_asio INTERFACE Threads::Threads)

if(VD_BUILD_TESTS)
  find_package(GTest REQUIRED)
endif()
if(VD_BUILD_BENCH)
  find_package(benchmark REQUIRED)
endif()
