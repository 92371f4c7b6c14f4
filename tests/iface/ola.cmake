# Tests of the OLA output, in their own program: olad_harness.sh runs them in a private network
# namespace, first with no daemon, then against a locked-down olad it starts and ends.
add_executable(ola_tests ola_test.cpp)
target_link_libraries(ola_tests PRIVATE dashard PkgConfig::OLA GTest::gtest GTest::gtest_main)
target_compile_options(ola_tests PRIVATE -Wall -Wextra)
add_test(NAME olad_test
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/olad_harness.sh $<TARGET_FILE:ola_tests>)
set_tests_properties(olad_test PROPERTIES LABELS iface TIMEOUT 60 SKIP_RETURN_CODE 77)
