# The address plan (test_addresses.txt) for CMake and C++.
#   tempikon_test_block(<name> <var>): sets <var>_FIRST, <var>_LAST and
#     <var>_PORT (its first port; empty for "-") from block <name>.
#   The header test_addresses.h, generated into ${PROJECT_BINARY_DIR}/generated
#     (on the include path of tempikon_platform_api), holds every block as a
#     tempikon::test_addresses::Block of the same name.
include_guard(GLOBAL)
set(TEMPIKON_TEST_ADDRESSES ${CMAKE_CURRENT_LIST_DIR}/test_addresses.txt)
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${TEMPIKON_TEST_ADDRESSES})

# The table's rows as "name;first;last;port" entries.
function(_tempikon_test_rows out)
  file(STRINGS ${TEMPIKON_TEST_ADDRESSES} lines REGEX "^[a-z]")
  set(rows)
  foreach(line ${lines})
    string(REGEX MATCH "^([a-z0-9_]+) +([0-9.]+) +([0-9.]+) +([0-9]+|-)[0-9,]*" row "${line}")
    if(NOT row)
      message(FATAL_ERROR "test_addresses.txt: cannot read \"${line}\"")
    endif()
    list(APPEND rows "${CMAKE_MATCH_1}|${CMAKE_MATCH_2}|${CMAKE_MATCH_3}|${CMAKE_MATCH_4}")
  endforeach()
  set(${out} ${rows} PARENT_SCOPE)
endfunction()

function(tempikon_test_block name var)
  _tempikon_test_rows(rows)
  foreach(row ${rows})
    string(REPLACE "|" ";" row "${row}")
    list(GET row 0 row_name)
    if(row_name STREQUAL name)
      list(GET row 1 first)
      list(GET row 2 last)
      list(GET row 3 port)
      if(port STREQUAL "-")
        set(port "")
      endif()
      set(${var}_FIRST ${first} PARENT_SCOPE)
      set(${var}_LAST ${last} PARENT_SCOPE)
      set(${var}_PORT ${port} PARENT_SCOPE)
      return()
    endif()
  endforeach()
  message(FATAL_ERROR "test_addresses.txt has no block ${name}")
endfunction()

function(_tempikon_address_number address out)
  string(REPLACE "." ";" parts ${address})
  list(GET parts 0 a)
  list(GET parts 1 b)
  list(GET parts 2 c)
  list(GET parts 3 d)
  math(EXPR number "((${a} * 256 + ${b}) * 256 + ${c}) * 256 + ${d}")
  set(${out} ${number} PARENT_SCOPE)
endfunction()

_tempikon_test_rows(_tempikon_rows)
set(_tempikon_blocks "")
foreach(row ${_tempikon_rows})
  string(REPLACE "|" ";" row "${row}")
  list(GET row 0 name)
  list(GET row 1 first)
  list(GET row 2 last)
  list(GET row 3 port)
  _tempikon_address_number(${first} first_number)
  _tempikon_address_number(${last} last_number)
  if(port STREQUAL "-")
    set(port 0)
  endif()
  string(APPEND _tempikon_blocks
    "inline constexpr Block ${name}{\"${name}\", ${first_number}u, ${last_number}u, ${port}};\n")
endforeach()
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/generated/test_addresses.h CONTENT [=[
#pragma once
// Made by CMake from tests/support/test_addresses.txt, the one plan of the
// tests' loopback addresses; change that file, not this one.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

namespace tempikon::test_addresses {

struct Block {
    const char* name;
    std::uint32_t first;
    std::uint32_t last;
    int port;  // its first port; 0: none of its own

    std::uint32_t size() const { return last - first + 1; }
    // Address number index (from 0) as text that lives as long as the
    // program (for tables of const char*); past the block's end the test
    // stops rather than take a neighbour's address.
    const char* at(std::uint32_t index) const {
        if (index >= size()) std::abort();
        static std::mutex lock;
        static std::map<std::uint32_t, std::string> texts;
        const std::uint32_t a = first + index;
        const std::lock_guard<std::mutex> held(lock);
        auto [it, added] = texts.try_emplace(a);
        if (added)
            it->second = std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 255) + "." +
                         std::to_string((a >> 8) & 255) + "." + std::to_string(a & 255);
        return it->second.c_str();
    }
};

@_tempikon_blocks@
}  // namespace tempikon::test_addresses
]=] @ONLY)
