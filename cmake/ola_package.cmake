# The Debian package that holds the OLA client library the module links (libola1, libola1t64 since
# the 64-bit time_t transition): the library names it when the client is missing, and the Debian
# package recommends it. dpkg says which package owns the file; failing that, Debian's rule of
# naming a library's package after its soname gives the likely name.
set(BRIVANE_OLA_PACKAGE "" CACHE STRING
    "Debian package of the OLA client library (empty: ask dpkg)")

# Sets `variable` to that package, from pkg-config's OLA_FOUND and OLA_LINK_LIBRARIES for libola.
function(brivane_ola_package variable)
    set(ola_package "${BRIVANE_OLA_PACKAGE}")
    if(OLA_FOUND AND ola_package STREQUAL "")
        set(ola_library ${OLA_LINK_LIBRARIES})
        list(FILTER ola_library INCLUDE REGEX "/libola\\.so$")
        file(REAL_PATH "${ola_library}" ola_file)
        find_program(DPKG_QUERY dpkg-query)
        if(DPKG_QUERY)
            execute_process(COMMAND ${DPKG_QUERY} --search ${ola_file}
                OUTPUT_VARIABLE ola_owner RESULT_VARIABLE ola_status ERROR_QUIET)
            if(ola_status EQUAL 0 AND ola_owner MATCHES "^([a-z0-9.+-]+)[:,]")
                set(ola_package ${CMAKE_MATCH_1})
            endif()
        endif()
        if(ola_package STREQUAL "" AND ola_file MATCHES "/libola\\.so\\.([0-9]+)")
            set(ola_package libola${CMAKE_MATCH_1})
            message(STATUS
                "No Debian package owns ${ola_file}; naming the OLA client ${ola_package}")
        endif()
    endif()
    if(ola_package STREQUAL "")
        set(ola_package libola1)
    endif()
    set(${variable} ${ola_package} PARENT_SCOPE)
endfunction()
