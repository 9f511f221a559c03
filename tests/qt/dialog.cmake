# The configuration dialog on the real Qt backend (offscreen), with Daytime
# servers in block dialog.
find_package(Qt6 REQUIRED COMPONENTS Test)
if(NOT TARGET tempikon_test_support)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/support ${PROJECT_BINARY_DIR}/tests/support)
endif()
add_executable(dialog_test ${CMAKE_CURRENT_LIST_DIR}/dialog_test.cpp)
target_link_libraries(dialog_test PRIVATE tempikon_app tempikon_platform_qt tempikon_test_support
                                          Qt6::Widgets Qt6::Test GTest::gtest)
gtest_discover_tests(dialog_test
  # The tests share one listed server address, so they take turns.
  PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" RESOURCE_LOCK dialog_addresses
  DISCOVERY_MODE PRE_TEST)
