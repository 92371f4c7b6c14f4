# The output library's send benchmark: one DasCall command 4 on Art-Net and sACN, and the packet
# builders alone, with heap allocations counted per frame.
find_package(benchmark REQUIRED)
add_executable(das_send_bench ${CMAKE_CURRENT_LIST_DIR}/das_send_bench.cpp)
target_link_libraries(das_send_bench PRIVATE dashard das_impl benchmark::benchmark)
target_include_directories(das_send_bench PRIVATE ${PROJECT_SOURCE_DIR}/iface/src)
target_compile_options(das_send_bench PRIVATE -Wall -Wextra)

# The Open DMX writer's packet rate on a pseudo-terminal (opendmx_period [SECONDS]).
add_executable(opendmx_period ${CMAKE_CURRENT_LIST_DIR}/opendmx_period.cpp)
target_link_libraries(opendmx_period PRIVATE das_impl)
target_include_directories(opendmx_period PRIVATE ${PROJECT_SOURCE_DIR}/iface/src)
target_compile_options(opendmx_period PRIVATE -Wall -Wextra)
