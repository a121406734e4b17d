# Cross build for 64-bit Arm Linux with Debian's aarch64-linux-gnu compiler:
#   cmake -S . -B build-arm64 --toolchain cmake/aarch64-linux-gnu.cmake \
#         -DMORVEK_ARM64_SYSROOT=/var/cache/morvek/arm64-bookworm/root
# MORVEK_ARM64_SYSROOT is a Debian arm64 file tree (tools/arm64_tree.sh makes one) holding
# arm64 CPython and its headers, GoogleTest and the C and C++ runtimes. The project's own flags
# apply unchanged; nothing here tunes for a particular Arm core.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(MORVEK_CROSS_TRIPLE aarch64-linux-gnu)
set(CMAKE_CXX_COMPILER ${MORVEK_CROSS_TRIPLE}-g++)

# try_compile projects read this file again, without the cache: hand the tree down to them.
if(NOT MORVEK_ARM64_SYSROOT AND DEFINED ENV{MORVEK_ARM64_SYSROOT})
    set(MORVEK_ARM64_SYSROOT "$ENV{MORVEK_ARM64_SYSROOT}")
endif()
if(NOT MORVEK_ARM64_SYSROOT OR NOT IS_DIRECTORY "${MORVEK_ARM64_SYSROOT}/usr/lib/${MORVEK_CROSS_TRIPLE}")
    message(FATAL_ERROR
        "MORVEK_ARM64_SYSROOT must name a Debian arm64 file tree (tools/arm64_tree.sh makes one), "
        "not '${MORVEK_ARM64_SYSROOT}'")
endif()
set(ENV{MORVEK_ARM64_SYSROOT} "${MORVEK_ARM64_SYSROOT}")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MORVEK_ARM64_SYSROOT)

set(CMAKE_SYSROOT "${MORVEK_ARM64_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH "${MORVEK_ARM64_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest and GoogleTest's discovery run the Arm executables through user-mode emulation; the
# tree supplies their loader and shared libraries.
find_program(MORVEK_QEMU_AARCH64 NAMES qemu-aarch64 qemu-aarch64-static REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR "${MORVEK_QEMU_AARCH64};-L;${MORVEK_ARM64_SYSROOT}")

# The build machine's own CPython headers describe the build machine: the module compiles
# against the tree's, the oldest CPython >= 3.9 there. Headers chosen for an earlier tree
# (another cache directory, another release) are chosen again.
string(FIND "${MORVEK_PYTHON_INCLUDE_DIR}" "${MORVEK_ARM64_SYSROOT}/" in_tree)
if(NOT in_tree EQUAL 0)
    include(${CMAKE_CURRENT_LIST_DIR}/python_headers.cmake)
    morvek_oldest_python_headers(MORVEK_PYTHON_INCLUDE_DIR "${MORVEK_ARM64_SYSROOT}/usr")
    if(NOT MORVEK_PYTHON_INCLUDE_DIR)
        message(FATAL_ERROR "no CPython >= 3.9 headers under ${MORVEK_ARM64_SYSROOT}/usr/include")
    endif()
    set(MORVEK_PYTHON_INCLUDE_DIR "${MORVEK_PYTHON_INCLUDE_DIR}" CACHE PATH
        "CPython headers the module is compiled against" FORCE)
endif()
