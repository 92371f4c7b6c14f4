# Random operator input on the real window against a model of the levels, on the offscreen platform.
add_executable(invariant_tests invariant_test.cpp)
target_link_libraries(invariant_tests PRIVATE form1 das_recorder Qt6::Test)
set_target_properties(invariant_tests PROPERTIES AUTOMOC ON)
add_test(NAME ui_invariant COMMAND invariant_tests)
set_tests_properties(ui_invariant PROPERTIES LABELS ui TIMEOUT 300
                     ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
