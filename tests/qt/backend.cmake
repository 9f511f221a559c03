# Tests of the Qt backend itself, on the offscreen platform, with Daytime
# servers (blocks backend_*) and TLS servers (openssl s_server, block
# backend_tls).
find_package(Qt6 REQUIRED COMPONENTS Test Network)
if(NOT TARGET tempikon_test_support)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/support ${PROJECT_BINARY_DIR}/tests/support)
endif()

add_executable(tempikon_settings_writer ${CMAKE_CURRENT_LIST_DIR}/backend_settings_writer.cpp)
target_link_libraries(tempikon_settings_writer PRIVATE tempikon_platform_qt)

add_executable(backend_tests
  ${CMAKE_CURRENT_LIST_DIR}/backend_main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/backend_autostart_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/backend_platform_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/backend_settings_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/backend_socket_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/backend_state_file_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/backend_tls_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/backend_udp_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/backend_window_test.cpp)
target_include_directories(backend_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(backend_tests PRIVATE
  tempikon_platform_qt tempikon_core tempikon_test_support
  Qt6::Widgets Qt6::Test Qt6::Network GTest::gtest)
find_program(OPENSSL_PROGRAM openssl REQUIRED)
target_compile_definitions(backend_tests PRIVATE
  TEMPIKON_OPENSSL="${OPENSSL_PROGRAM}"
  TEMPIKON_SETTINGS_WRITER="$<TARGET_FILE:tempikon_settings_writer>"
  TEMPIKON_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
add_dependencies(backend_tests tempikon_settings_writer)
# The German translation as the program finds it beside itself.
if(TARGET tempikon_lrelease)
  add_dependencies(backend_tests tempikon_lrelease)
  target_compile_definitions(backend_tests PRIVATE
    TEMPIKON_TRANSLATIONS_DIR="${PROJECT_BINARY_DIR}/app/main/translations")
endif()
gtest_discover_tests(backend_tests
  TEST_PREFIX "backend."
  DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 120 LABELS qt)

foreach(locale_case "de_DE.UTF-8|," "C|.")
  string(REPLACE "|" ";" locale_case "${locale_case}")
  list(GET locale_case 0 locale)
  list(GET locale_case 1 separator)
  add_test(NAME backend_decimal_separator_${locale}
    COMMAND backend_tests --gtest_filter=SettingsLocale.DecimalSeparatorMatchesTheLocale)
  set_tests_properties(backend_decimal_separator_${locale} PROPERTIES
    ENVIRONMENT "LC_ALL=${locale};LANG=${locale};TEMPIKON_EXPECT_SEPARATOR=${separator}"
    LABELS qt)
endforeach()

# The real clock backend, only ever without CAP_SYS_TIME: with the recorder
# preloaded the settings are recorded; without it the kernel refuses.
add_executable(backend_clock_check ${CMAKE_CURRENT_LIST_DIR}/backend_clock_check.cpp)
target_link_libraries(backend_clock_check PRIVATE tempikon_platform_qt)
find_program(CAPSH capsh PATHS /usr/sbin /sbin)
if(CAPSH)
  foreach(zone local Asia/Kathmandu)
    string(REPLACE "/" "_" zone_name ${zone})
    set(log ${CMAKE_CURRENT_BINARY_DIR}/clock_${zone_name}.log)
    set(tz "")
    if(NOT zone STREQUAL "local")
      set(tz "TZ=${zone} ")
    endif()
    add_test(NAME backend_clock_recorded_${zone_name}
      COMMAND ${CAPSH} --drop=cap_sys_time -- -c
        "${tz}LD_PRELOAD=$<TARGET_FILE:tempikon_clock_recorder> TEMPIKON_CLOCK_LOG=${log} ASAN_OPTIONS=$ASAN_OPTIONS:verify_asan_link_order=0 exec $<TARGET_FILE:backend_clock_check> record ${log}")
  endforeach()
  # Slews, accepted and refused, through the recorder.
  foreach(variant accepted refused)
    set(log ${CMAKE_CURRENT_BINARY_DIR}/slew_${variant}.log)
    set(refuse "")
    set(arg "")
    if(variant STREQUAL "refused")
      set(refuse "TEMPIKON_CLOCK_REFUSE=1 ")
      set(arg " refused")
    endif()
    add_test(NAME backend_clock_slew_${variant}
      COMMAND ${CAPSH} --drop=cap_sys_time -- -c
        "${refuse}LD_PRELOAD=$<TARGET_FILE:tempikon_clock_recorder> TEMPIKON_CLOCK_LOG=${log} ASAN_OPTIONS=$ASAN_OPTIONS:verify_asan_link_order=0 exec $<TARGET_FILE:backend_clock_check> slew ${log}${arg}")
  endforeach()
  # Steps by an offset: accepted, refused for lack of the right, and refused
  # in that form (the clock is then read and set).
  foreach(variant accepted EPERM EINVAL EOPNOTSUPP)
    set(log ${CMAKE_CURRENT_BINARY_DIR}/step_${variant}.log)
    set(refuse "")
    set(arg "")
    if(variant STREQUAL "EPERM")
      set(refuse "TEMPIKON_CLOCK_REFUSE=1 ")
      set(arg " EPERM")
    elseif(NOT variant STREQUAL "accepted")
      set(refuse "TEMPIKON_CLOCK_REFUSE_SETOFFSET=${variant} ")
      set(arg " ${variant}")
    endif()
    add_test(NAME backend_clock_step_${variant}
      COMMAND ${CAPSH} --drop=cap_sys_time -- -c
        "${refuse}LD_PRELOAD=$<TARGET_FILE:tempikon_clock_recorder> TEMPIKON_CLOCK_LOG=${log} ASAN_OPTIONS=$ASAN_OPTIONS:verify_asan_link_order=0 exec $<TARGET_FILE:backend_clock_check> step ${log}${arg}")
  endforeach()
  add_test(NAME backend_clock_refused
    COMMAND ${CAPSH} --drop=cap_sys_time -- -c "exec $<TARGET_FILE:backend_clock_check> refused")
endif()
add_test(NAME backend_clock_guard COMMAND backend_clock_check guard)
