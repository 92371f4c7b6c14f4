# Faults under the real program: a widget unplugged, olad killed, the Art-Net receiver gone, the
# trace file unwritable. Under Xvfb like the console tests; the olad case needs root. The server
# never resets, so a program started while no other client is connected still finds it.
add_executable(e2e_faults_tests faults_test.cpp faults_support.cpp desktop.cpp
                                ${PROJECT_SOURCE_DIR}/tests/iface/net_support.cpp)
target_include_directories(e2e_faults_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests/iface)
target_link_libraries(e2e_faults_tests PRIVATE GTest::gtest GTest::gtest_main)
target_compile_definitions(e2e_faults_tests PRIVATE
    BRIVANE_EXE="$<TARGET_FILE:brivane>"
    OLAD_HARNESS="${PROJECT_SOURCE_DIR}/tests/iface/olad_harness.sh")
set_target_properties(e2e_faults_tests PROPERTIES AUTOMOC OFF)
add_dependencies(e2e_faults_tests brivane)
add_test(NAME e2e_faults COMMAND xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp -noreset"
                                 $<TARGET_FILE:e2e_faults_tests>)
set_tests_properties(e2e_faults PROPERTIES LABELS e2e TIMEOUT 300)
