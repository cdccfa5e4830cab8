# Adds one ctest test per GoogleTest suite of the test executable, not one per test: each process
# of the sanitized executable takes a few tenths of a second to start, which over some two thousand
# tests was half of the run. The suites over real stores run again in each further zone. The
# instances over EDS ("*/eds") are left out: they run in EDS's sessions (eds.commands). Run after
# each link of the executable, with TEST_EXECUTABLE, CTEST_FILE, ZONES (the first runs every suite),
# STORE_SUITES, COMMAND_SUITES with COMMAND_ZONES (zones only the commands' suites run in) and
# LONG_SUITES (started first, so that no long suite runs alone at the end) set; the file it writes
# is read by ctest.
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND "${TEST_EXECUTABLE}" --gtest_list_tests
  OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${TEST_EXECUTABLE} --gtest_list_tests failed (${status}):\n${listing}")
endif()

string(REPLACE "\n" ";" lines "${listing}")
list(GET ZONES 0 first_zone)
list(SUBLIST ZONES 1 -1 other_zones)
set(script "")
foreach(line IN LISTS lines)
  # Suites start in the first column ("Suite." or "Prefix/Suite."); their tests are indented.
  if(NOT line MATCHES "^([A-Za-z0-9_/]+)\\.")
    continue()
  endif()
  set(suite "${CMAKE_MATCH_1}")
  string(REGEX REPLACE "^.*/" "" plain "${suite}")
  set(runs "${first_zone}")
  if(plain IN_LIST STORE_SUITES)
    list(APPEND runs ${other_zones})
  endif()
  if(plain IN_LIST COMMAND_SUITES)
    list(APPEND runs ${COMMAND_ZONES})
  endif()
  foreach(zone IN LISTS runs)
    set(name "${suite}")
    if(NOT zone STREQUAL first_zone)
      set(name "${zone}:${suite}")
    endif()
    string(APPEND script
      "add_test([=[${name}]=] [=[${TEST_EXECUTABLE}]=] [=[--gtest_filter=${suite}.*-*/eds]=])\n"
      "set_tests_properties([=[${name}]=] PROPERTIES TIMEOUT 600 "
      "ENVIRONMENT [=[TEMBRA_TEST_ZONE=${zone}]=]")
    if(NOT zone STREQUAL first_zone)
      string(APPEND script " LABELS zones")
    endif()
    if(plain IN_LIST LONG_SUITES)
      string(APPEND script " COST 100")
    endif()
    string(APPEND script ")\n")
  endforeach()
endforeach()
file(WRITE "${CTEST_FILE}" "${script}")
