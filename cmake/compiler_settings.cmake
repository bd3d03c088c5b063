# Warnings for every target of ours; sanitizers for the whole build.
function(mivo_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                           -Wno-sign-conversion)
  if(MIVO_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

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
