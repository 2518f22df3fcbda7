# Installs the programs, the manual page, the library with its headers (under include/likeness),
# a CMake package (find_package(likeness CONFIG), target likeness::likeness) and a pkg-config
# file, and describes the Debian package that cpack -G DEB makes of them.
include(CMakePackageConfigHelpers)

set(LIKENESS_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/likeness)
set(LIKENESS_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(TARGETS likeness EXPORT likenessTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/likeness)
install(TARGETS likeness-tool likeness-map RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Manual pages and the changelog are installed compressed, as Debian wants them: gzip -n keeps
# the name and time out, so that the same sources give the same package. likeness-map is
# described on the likeness page.
find_program(GZIP gzip REQUIRED)
set(LIKENESS_MAN_GZ ${CMAKE_CURRENT_BINARY_DIR}/likeness.1.gz)
set(LIKENESS_CHANGELOG_GZ ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${LIKENESS_MAN_GZ} ${LIKENESS_CHANGELOG_GZ}
  COMMAND ${GZIP} -9nc ${CMAKE_CURRENT_SOURCE_DIR}/man/likeness.1 > ${LIKENESS_MAN_GZ}
  COMMAND ${GZIP} -9nc ${CMAKE_CURRENT_SOURCE_DIR}/cmake/debian/changelog > ${LIKENESS_CHANGELOG_GZ}
  DEPENDS man/likeness.1 cmake/debian/changelog VERBATIM)
add_custom_target(likeness_docs ALL DEPENDS ${LIKENESS_MAN_GZ} ${LIKENESS_CHANGELOG_GZ})
file(CREATE_LINK likeness.1.gz ${CMAKE_CURRENT_BINARY_DIR}/likeness-map.1.gz SYMBOLIC)
install(FILES ${LIKENESS_MAN_GZ} ${CMAKE_CURRENT_BINARY_DIR}/likeness-map.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${LIKENESS_CHANGELOG_GZ} cmake/debian/copyright
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

install(EXPORT likenessTargets NAMESPACE likeness:: DESTINATION ${LIKENESS_CMAKE_DIR})
configure_package_config_file(cmake/likenessConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/likenessConfig.cmake INSTALL_DESTINATION ${LIKENESS_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/likenessConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/likenessConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/likenessConfigVersion.cmake DESTINATION ${LIKENESS_CMAKE_DIR})

# The prefix is found from where the .pc file lies, so that any install prefix works.
file(RELATIVE_PATH LIKENESS_PC_TO_PREFIX /${LIKENESS_PKGCONFIG_DIR} /)
string(REGEX REPLACE "/$" "" LIKENESS_PC_TO_PREFIX "${LIKENESS_PC_TO_PREFIX}")
configure_file(cmake/likeness.pc.in ${CMAKE_CURRENT_BINARY_DIR}/likeness.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/likeness.pc DESTINATION ${LIKENESS_PKGCONFIG_DIR})

set(CPACK_PACKAGE_NAME likeness)
set(CPACK_PACKAGE_VENDOR "likeness maintainers")
set(CPACK_PACKAGE_CONTACT "likeness maintainers <maintainers@likeness.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
  "likeness prints the structural similarity (SSIM) of two grey images
(BMP, PNG or PGM files), averaged over non-overlapping 8 x 8 blocks;
likeness-map also draws the block scores. The static library and its
headers read those files, write BMP files and score blocks.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

# The Python module is a package of its own, python3-likeness, for the interpreter it was built
# for; what the rest installs stays the likeness package.
if(LIKENESS_PYTHON)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_NAME likeness)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-likeness)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "${LIKENESS_PYTHON_DEPENDS}")
  set(CPACK_COMPONENT_UNSPECIFIED_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
  set(CPACK_COMPONENT_PYTHON_DESCRIPTION
    "The Python module likeness scores pairs of grey pictures held in NumPy
arrays (the mean SSIM over non-overlapping 8 x 8 blocks, and every block's
score), reads BMP, PNG and PGM files into arrays and writes BMP files.")
  install(FILES ${LIKENESS_CHANGELOG_GZ} cmake/debian/copyright
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/python3-likeness COMPONENT python)
endif()
include(CPack)
