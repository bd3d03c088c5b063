# Compares the cases written in SOURCE (TEST and TEST_F) with the tests that
# ctest in TEST_DIR would run under PREFIX, and fails when they differ.
#   cmake -D SOURCE=... -D TEST_DIR=... -D PREFIX=... -D CTEST=... -P count_cases.cmake
file(STRINGS "${SOURCE}" written REGEX "^TEST(_F)?\\(")
list(LENGTH written written_count)

string(REPLACE "." "\\." prefix_pattern "${PREFIX}")
execute_process(COMMAND "${CTEST}" --test-dir "${TEST_DIR}" -N -R "^${prefix_pattern}"
                OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "ctest could not list the tests of ${TEST_DIR}")
endif()
# ctest marks a disabled case after its name, so it does not count.
string(REGEX MATCHALL "Test +#[0-9]+: ${prefix_pattern}[A-Za-z0-9_]+\\.[A-Za-z0-9_]+\n" runnable "${listing}")
list(LENGTH runnable run_count)

if(NOT run_count EQUAL written_count)
  message(FATAL_ERROR "${SOURCE} holds ${written_count} cases, ctest runs ${run_count} of them")
endif()
message(STATUS "all ${written_count} cases of ${SOURCE} run")
