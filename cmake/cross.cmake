# Cross-compiles for the Debian architecture whose GNU triplet is LIKENESS_CROSS_TRIPLET (for
# example aarch64-linux-gnu or s390x-linux-gnu) with Debian's cross compiler, against that
# architecture's libraries unpacked under LIKENESS_CROSS_LIBRARIES (a folder laid out as /), and
# runs what it builds through qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
# The checks CMake compiles on the way include this file again, and need the folders too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES LIKENESS_CROSS_TRIPLET LIKENESS_CROSS_LIBRARIES)
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR "${LIKENESS_CROSS_TRIPLET}")
set(CMAKE_CXX_COMPILER ${LIKENESS_CROSS_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${LIKENESS_CROSS_TRIPLET})
set(multiarch ${LIKENESS_CROSS_LIBRARIES}/usr/lib/${LIKENESS_CROSS_TRIPLET})
# Some libraries (zlib) still lie in /lib.
set(runtime ${multiarch}:${LIKENESS_CROSS_LIBRARIES}/lib/${LIKENESS_CROSS_TRIPLET})

# Libraries, headers and packages come only from the unpacked folder and the compiler's own.
set(CMAKE_FIND_ROOT_PATH ${LIKENESS_CROSS_LIBRARIES} /usr/${LIKENESS_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
if(LIKENESS_CROSS_LIBRARIES)
  set(ENV{PKG_CONFIG_LIBDIR} ${multiarch}/pkgconfig:${LIKENESS_CROSS_LIBRARIES}/usr/share/pkgconfig)
  set(ENV{PKG_CONFIG_SYSROOT_DIR} ${LIKENESS_CROSS_LIBRARIES})
endif()
# Headers made for one architecture (libjpeg's jconfig.h) lie in the multiarch include folder, which
# the cross compiler looks for under its own prefix, not in the unpacked one.
set(CMAKE_CXX_FLAGS_INIT "-isystem ${LIKENESS_CROSS_LIBRARIES}/usr/include/${LIKENESS_CROSS_TRIPLET}")
# The libraries those libraries need (libspng needs zlib) are found at link time there too.
set(CMAKE_EXE_LINKER_FLAGS_INIT -Wl,-rpath-link,${runtime})

# qemu-user's program for the processor (qemu-aarch64, qemu-s390x), called by name: binfmt may
# not be registered (in a chroot or a container). CTest runs the tests through it, and the
# programs' tests the programs.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${CMAKE_SYSTEM_PROCESSOR} -L /usr/${LIKENESS_CROSS_TRIPLET}
  -E LD_LIBRARY_PATH=${runtime})
