# The Debian package: `cpack -G DEB` in the build directory makes
# pcgrid_<version>_<arch>.deb with the programs and their manual pages,
# installed under /usr.

set(PCGRID_PACKAGE_MAINTAINER
    "pcgrid maintainers <maintainers@users.noreply.c-seed-860b838e.example>"
    CACHE STRING "Maintainer named in the Debian package")

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

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
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
