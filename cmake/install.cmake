# Installs the programs, the manual page, the library with its headers (under include/likeness),
# a CMake package (find_package(likeness CONFIG), target likeness::likeness) and a pkg-config
# file, and describes the Debian packages that cpack -G DEB makes of them: one per install
# component, `programs` (package likeness) and `development` (package liblikeness-dev).
include(CMakePackageConfigHelpers)

set(LIKENESS_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/likeness)
set(LIKENESS_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(TARGETS likeness EXPORT likenessTargets COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/likeness)
install(TARGETS likeness-tool likeness-map likeness-check RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  COMPONENT programs)

# Manual pages and the changelog are installed compressed, as Debian wants them: gzip -n keeps
# the name and time out, so that the same sources give the same package. likeness-map is
# described on the likeness page.
find_program(GZIP gzip REQUIRED)
set(LIKENESS_MAN_GZ ${CMAKE_CURRENT_BINARY_DIR}/likeness.1.gz)
set(LIKENESS_CHANGELOG_GZ ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
set(LIKENESS_CHECK_MAN_GZ ${CMAKE_CURRENT_BINARY_DIR}/likeness-check.1.gz)
add_custom_command(OUTPUT ${LIKENESS_MAN_GZ} ${LIKENESS_CHANGELOG_GZ}
  COMMAND ${GZIP} -9nc ${CMAKE_CURRENT_SOURCE_DIR}/man/likeness.1 > ${LIKENESS_MAN_GZ}
  COMMAND ${GZIP} -9nc ${CMAKE_CURRENT_SOURCE_DIR}/cmake/debian/changelog > ${LIKENESS_CHANGELOG_GZ}
  DEPENDS man/likeness.1 cmake/debian/changelog VERBATIM)
add_custom_command(OUTPUT ${LIKENESS_CHECK_MAN_GZ}
  COMMAND ${GZIP} -9nc ${CMAKE_CURRENT_SOURCE_DIR}/man/likeness-check.1 > ${LIKENESS_CHECK_MAN_GZ}
  DEPENDS man/likeness-check.1 VERBATIM)
add_custom_target(likeness_docs ALL DEPENDS ${LIKENESS_MAN_GZ} ${LIKENESS_CHANGELOG_GZ}
  ${LIKENESS_CHECK_MAN_GZ})
file(CREATE_LINK likeness.1.gz ${CMAKE_CURRENT_BINARY_DIR}/likeness-map.1.gz SYMBOLIC)
install(FILES ${LIKENESS_MAN_GZ} ${CMAKE_CURRENT_BINARY_DIR}/likeness-map.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT programs)
install(FILES ${LIKENESS_CHECK_MAN_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT programs)

# Every Debian package carries the changelog and the copyright in a folder of its own name.
function(likeness_package_docs component package)
  install(FILES ${LIKENESS_CHANGELOG_GZ} cmake/debian/copyright
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endfunction()

install(EXPORT likenessTargets NAMESPACE likeness:: DESTINATION ${LIKENESS_CMAKE_DIR}
  COMPONENT development)
configure_package_config_file(cmake/likenessConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/likenessConfig.cmake INSTALL_DESTINATION ${LIKENESS_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/likenessConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/likenessConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/likenessConfigVersion.cmake DESTINATION ${LIKENESS_CMAKE_DIR}
  COMPONENT development)

# The prefix is found from where the .pc file lies, so that any install prefix works.
file(RELATIVE_PATH LIKENESS_PC_TO_PREFIX /${LIKENESS_PKGCONFIG_DIR} /)
string(REGEX REPLACE "/$" "" LIKENESS_PC_TO_PREFIX "${LIKENESS_PC_TO_PREFIX}")
# The .pc file requires, and the CMake package finds, the pkg-config modules of every format built.
set(LIKENESS_PC_REQUIRES)
foreach(entry IN LISTS LIKENESS_PKG_MODULES)
  string(REGEX REPLACE "^[^=]*=" "" module "${entry}")
  string(APPEND LIKENESS_PC_REQUIRES " ${module}")
endforeach()
string(STRIP "${LIKENESS_PC_REQUIRES}" LIKENESS_PC_REQUIRES)
configure_file(cmake/likeness.pc.in ${CMAKE_CURRENT_BINARY_DIR}/likeness.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/likeness.pc DESTINATION ${LIKENESS_PKGCONFIG_DIR}
  COMPONENT development)

set(CPACK_PACKAGE_NAME likeness)
set(CPACK_PACKAGE_VENDOR "likeness maintainers")
set(CPACK_PACKAGE_CONTACT "likeness maintainers <maintainers@likeness.invalid>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)

# One Debian package per component: likeness_package(COMPONENT PACKAGE SECTION SUMMARY
# DESCRIPTION [DEPENDS]). Without DEPENDS the package depends on the shared libraries its
# programs need, as dpkg-shlibdeps finds them.
function(likeness_package component package section summary description)
  string(TOUPPER ${component} name)
  set(CPACK_DEBIAN_${name}_PACKAGE_NAME ${package} PARENT_SCOPE)
  set(CPACK_DEBIAN_${name}_PACKAGE_SECTION ${section} PARENT_SCOPE)
  set(CPACK_DEBIAN_${name}_DESCRIPTION "${summary}\n${description}" PARENT_SCOPE)
  if(ARGC GREATER 5)
    set(CPACK_DEBIAN_${name}_PACKAGE_DEPENDS "${ARGV5}" PARENT_SCOPE)
  else()
    set(CPACK_DEBIAN_${name}_PACKAGE_SHLIBDEPS ON PARENT_SCOPE)
  endif()
  likeness_package_docs(${component} ${package})
endfunction()

likeness_package(programs likeness graphics "Block SSIM of grey images (BMP, PNG, JPEG, WebP, ...)"
  "likeness prints the structural similarity (SSIM) of two grey images
(BMP, PNG, PGM, JPEG, WebP, TIFF, AVIF or JPEG XL files), averaged over
non-overlapping 8 x 8 blocks;
likeness-map also draws the block scores; likeness-check compares many pairs
at once, with verdicts, worst blocks and reports for CI.")
# The decoders' libraries opened when a file needs them: no scan of the programs finds them.
list(JOIN LIKENESS_OPENED_PACKAGES ", " LIKENESS_OPENED_DEPENDS)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_DEPENDS "${LIKENESS_OPENED_DEPENDS}")
list(JOIN LIKENESS_DEV_PACKAGES ", " LIKENESS_DEV_DEPENDS)
# A static library: building against it needs the headers of the libraries it uses, and
# pkg-config, which its CMake package and its .pc file call. The compiler and the C++ runtime
# come with build-essential, which Debian packages do not name.
likeness_package(development liblikeness-dev libdevel
  "Block SSIM of grey images - static library and headers"
  "The static library and headers of likeness: they read BMP, PNG, PGM,
JPEG, WebP, TIFF, AVIF and JPEG XL files (as built), write BMP files
and score the structural similarity (SSIM) of two grey images over
8 x 8 blocks. With a CMake package and a pkg-config file."
  "${LIKENESS_DEV_DEPENDS}, pkgconf")
set(CPACK_COMPONENTS_ALL programs development)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

# The Python module is a package of its own, python3-likeness, for the interpreter it was built
# for: the versions it runs on and NumPy, besides the shared libraries the module loads.
if(LIKENESS_PYTHON)
  if(LIKENESS_OPENED_DEPENDS)
    string(APPEND LIKENESS_PYTHON_DEPENDS ", ${LIKENESS_OPENED_DEPENDS}")
  endif()
  likeness_package(python python3-likeness python "Block SSIM of grey images - Python module"
    "The Python module likeness scores pairs of grey pictures held in NumPy
arrays (the mean SSIM over non-overlapping 8 x 8 blocks, and every block's
score), reads BMP, PNG, PGM and JPEG files into arrays and writes BMP files."
    "${LIKENESS_PYTHON_DEPENDS}")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SHLIBDEPS ON)
  list(APPEND CPACK_COMPONENTS_ALL python)
endif()
include(CPack)
