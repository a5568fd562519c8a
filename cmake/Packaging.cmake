# The Debian package: `cpack -G DEB` in the build directory makes
# pcgrid_<version>-<release>_<arch>.deb with the programs and their manual
# pages, installed under /usr, and /usr/share/doc/pcgrid: the copyright file
# in Debian's machine-readable format (made from LICENSE), the Debian
# changelog (cmake/debian/changelog), the README and the example workflow.
# `cmake --install` installs the programs and manual pages only.

# The project has no mail address of its own; a distributor names theirs.
set(PCGRID_PACKAGE_MAINTAINER "The pcgrid authors <authors@pcgrid.invalid>"
    CACHE STRING "Maintainer named in the Debian package")

# debian/copyright: the license of LICENSE, its paragraphs indented by one
# space and separated by lines holding a point.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE pcgrid_license)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)\n\n" pcgrid_notice "${pcgrid_license}")
set(pcgrid_holders ${CMAKE_MATCH_1})
string(FIND "${pcgrid_license}" "${pcgrid_notice}" pcgrid_start)
string(LENGTH "${pcgrid_notice}" pcgrid_length)
math(EXPR pcgrid_start "${pcgrid_start} + ${pcgrid_length}")
string(SUBSTRING "${pcgrid_license}" ${pcgrid_start} -1 pcgrid_license)
string(STRIP "${pcgrid_license}" pcgrid_license)
string(REPLACE "\n\n" "\n.\n" pcgrid_license "${pcgrid_license}")
string(REPLACE "\n" "\n " pcgrid_license "${pcgrid_license}")
file(WRITE ${CMAKE_BINARY_DIR}/debian/copyright
     "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
     "Upstream-Name: pcgrid\n"
     "\n"
     "Files: *\n"
     "Copyright: ${pcgrid_holders}\n"
     "License: Expat\n"
     " ${pcgrid_license}\n")

# debian/changelog, compressed as Debian ships it (gzip is found with the
# manual pages; without it the package has no changelog).
set(pcgrid_debian_docs ${CMAKE_BINARY_DIR}/debian/copyright)
if(PCGRID_GZIP)
  set(pcgrid_changelog ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz)
  add_custom_command(
    OUTPUT ${pcgrid_changelog}
    COMMAND ${PCGRID_GZIP} -9 -n -c ${PROJECT_SOURCE_DIR}/cmake/debian/changelog > ${pcgrid_changelog}
    DEPENDS ${PROJECT_SOURCE_DIR}/cmake/debian/changelog
    COMMENT "Compressing the Debian changelog")
  add_custom_target(debian_changelog ALL DEPENDS ${pcgrid_changelog})
  list(APPEND pcgrid_debian_docs ${pcgrid_changelog})
endif()

install(FILES ${pcgrid_debian_docs} ${PROJECT_SOURCE_DIR}/README.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/examples/pipeline.sh
              ${PROJECT_SOURCE_DIR}/examples/sample-table.txt.gz
              ${PROJECT_SOURCE_DIR}/examples/sample-landscape.png
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT debian EXCLUDE_FROM_ALL)

set(CPACK_PACKAGE_NAME pcgrid)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${PCGRID_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "grid-cell words, cluster members and 2-D count maps of PC projections")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "Small filters for principal-component projections of large data\n"
       "sets, such as the PCA of a molecular-dynamics trajectory with millions\n"
       "of frames: lettercode writes for every PC vector of a table a word that\n"
       "names its cell in a regular grid; clusterback maps cluster numbers,\n"
       "given to such words by a dictionary, back onto the vectors, in parallel;\n"
       "gridmap bins 2- or 3-column points onto a 2-D grid and writes a count\n"
       "(or mean) matrix and its logarithm, the raw material of free-energy\n"
       "landscape plots; pctable writes exact PC tables from GROMACS xvg files,\n"
       "delimited text and NumPy .npy arrays; wordclusters groups the words into\n"
       "metastable states, a dictionary for clusterback; gridplot draws a gridmap\n"
       "run as a free-energy map with gnuplot.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

# One package of everything: the programs and pages (installed by default)
# and the documentation that only the package installs.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL Unspecified debian)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The shared libraries' packages, as dpkg-shlibdeps (from dpkg-dev) finds
# them; without it, the libraries that the programs link, as on Debian 12.
find_program(PCGRID_DPKG_SHLIBDEPS dpkg-shlibdeps)
mark_as_advanced(PCGRID_DPKG_SHLIBDEPS)
if(PCGRID_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libc6 (>= 2.34), libgomp1 (>= 4.9), libstdc++6 (>= 11)")
endif()

# gridplot draws with gnuplot; the other programs work without it.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS gnuplot-nox)

set(CPACK_GENERATOR DEB)
include(CPack)
