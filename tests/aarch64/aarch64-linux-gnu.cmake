# Cross-builds for 64-bit ARM Linux with clang and Debian's arm64 cross
# libraries (libc6-dev-arm64-cross, libstdc++-12-dev-arm64-cross,
# binutils-aarch64-linux-gnu), and runs the results under qemu-user:
#   cmake -DCMAKE_TOOLCHAIN_FILE=tests/aarch64/aarch64-linux-gnu.cmake ...
# clang rather than g++-aarch64-linux-gnu, which Debian 12 cannot install
# beside g++-multilib, needed by the 32-bit tree.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(DXT1_AARCH64_TRIPLE aarch64-linux-gnu)

set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER_TARGET ${DXT1_AARCH64_TRIPLE})
set(CMAKE_C_COMPILER_TARGET ${DXT1_AARCH64_TRIPLE})
# clang finds the cross linker, C library and libstdc++ by the target alone.

# Where libc6-arm64-cross puts the arm64 C library and its loader.
set(DXT1_AARCH64_SYSROOT /usr/${DXT1_AARCH64_TRIPLE} CACHE PATH "The arm64 C library's root, for qemu-aarch64 -L")
find_program(DXT1_QEMU_AARCH64 qemu-aarch64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${DXT1_QEMU_AARCH64} -L ${DXT1_AARCH64_SYSROOT})

set(CMAKE_FIND_ROOT_PATH ${DXT1_AARCH64_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
