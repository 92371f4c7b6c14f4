# Tests of the OLA output. The cases that need olad skip in the plain run; olad_test runs them
# in a private network namespace against a locked-down olad that its harness starts and ends.
target_sources(iface_tests PRIVATE ola_test.cpp)

add_test(NAME olad_test
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/olad_harness.sh $<TARGET_FILE:iface_tests>
                 "OlaNoDaemon.*" "OlaDaemon.*")
set_tests_properties(olad_test PROPERTIES LABELS iface TIMEOUT 60 SKIP_RETURN_CODE 77)
