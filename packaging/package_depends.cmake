# Run by cpack (as its project config file): the Debian package's Depends, from dpkg-shlibdeps on
# the program and libdashard of the build tree, plus what they load at run time by name.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
    return()
endif()
if(NOT BRIVANE_DEB_FLAGS)
    message(WARNING "the binaries were built without Debian's hardening flags; for a package to "
                    "install, configure with -DBRIVANE_DEB_FLAGS=ON and build again")
endif()
# dpkg-shlibdeps wants to run beside a debian/control file, which may be empty.
file(REMOVE_RECURSE "${BRIVANE_SHLIBDEPS_WORK}")
file(WRITE "${BRIVANE_SHLIBDEPS_WORK}/debian/control" "")
list(GET BRIVANE_PACKAGE_ELF 1 library)
get_filename_component(library_folder "${library}" DIRECTORY)
# libdashard is the package's own: found through -l, and no other package provides it.
execute_process(
    COMMAND "${BRIVANE_SHLIBDEPS}" --ignore-missing-info "-l${library_folder}" -O ${BRIVANE_PACKAGE_ELF}
    WORKING_DIRECTORY "${BRIVANE_SHLIBDEPS_WORK}"
    OUTPUT_VARIABLE found ERROR_VARIABLE errors RESULT_VARIABLE status
    OUTPUT_STRIP_TRAILING_WHITESPACE)
file(REMOVE_RECURSE "${BRIVANE_SHLIBDEPS_WORK}")
if(NOT status EQUAL 0 OR NOT found MATCHES "^shlibs:Depends=")
    message(FATAL_ERROR "dpkg-shlibdeps on ${BRIVANE_PACKAGE_ELF} failed: ${errors}")
endif()
string(REGEX REPLACE "^shlibs:Depends=" "" found "${found}")
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${found}, ${BRIVANE_RUNTIME_DEPENDS}")
