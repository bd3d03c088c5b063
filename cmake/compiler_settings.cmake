# Warnings for every target of ours; sanitizers for the whole build.
function(mivo_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                           -Wno-sign-conversion)
  if(MIVO_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

if(MIVO_SANITIZER OR MIVO_FUZZ)
  add_compile_definitions(MIVO_NO_CPU_DISPATCH)
endif()

if(MIVO_SANITIZER STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=thread)
elseif(MIVO_SANITIZER STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=address,undefined)
elseif(NOT MIVO_SANITIZER STREQUAL "")
  message(FATAL_ERROR "MIVO_SANITIZER must be empty, thread or address")
endif()

# Fuzz builds: every object is instrumented for coverage and checked by
# ASan/UBSan; only the fuzz targets link libFuzzer's main.
if(MIVO_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "MIVO_FUZZ needs clang (e.g. -DCMAKE_CXX_COMPILER=clang++-14)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=address,undefined)
endif()

# A libFuzzer target; the executables land in <build>/fuzz/.
function(mivo_fuzz_target target)
  add_executable(${target} ${ARGN})
  target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  mivo_warnings(${target})
endfunction()
