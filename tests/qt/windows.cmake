# The main window and the About box on the real Qt backend (offscreen).
add_executable(windows_test ${CMAKE_CURRENT_LIST_DIR}/windows_test.cpp)
target_link_libraries(windows_test PRIVATE tempikon_app tempikon_platform_qt Qt6::Widgets GTest::gtest)
gtest_discover_tests(windows_test
  PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
  DISCOVERY_MODE PRE_TEST)
# The About box and the dialog's buttons in German, at 100 % and 200 %.
if(TARGET tempikon_lrelease)
  add_dependencies(windows_test tempikon_lrelease)
  target_compile_definitions(windows_test PRIVATE
    TEMPIKON_TRANSLATIONS_DIR="${PROJECT_BINARY_DIR}/app/main/translations")
endif()
foreach(scale 1 2)
  add_test(NAME windows_about_de_scale_${scale}
    COMMAND windows_test
      --gtest_filter=WindowsTest.AboutBoxLinesFitInTheirPlaces:WindowsTest.DialogButtonsHoldTheirTextsAndLookGreyedWhenGreyed)
  set_tests_properties(windows_about_de_scale_${scale} PROPERTIES ENVIRONMENT
    "QT_QPA_PLATFORM=offscreen;LANG=de_DE.UTF-8;LC_ALL=de_DE.UTF-8;QT_SCALE_FACTOR=${scale}")
endforeach()
