# The main window and the About box on the real Qt backend (offscreen).
add_executable(windows_test ${CMAKE_CURRENT_LIST_DIR}/windows_test.cpp)
target_link_libraries(windows_test PRIVATE tempikon_app tempikon_platform_qt Qt6::Widgets GTest::gtest)
gtest_discover_tests(windows_test
  PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
  DISCOVERY_MODE PRE_TEST)
