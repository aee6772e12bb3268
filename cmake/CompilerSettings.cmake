# Warnings are errors everywhere; sanitizers apply to every target of the build.
add_compile_options(
  -Wall -Wextra -Wpedantic -Werror
  -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual -Wcast-qual -Wimplicit-fallthrough)

if(KAIROVEL_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
elseif(KAIROVEL_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(KAIROVEL_SANITIZE STREQUAL "fuzz")
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "The fuzz variant needs clang (libFuzzer)")
  endif()
  # Coverage for libFuzzer everywhere; the fuzzer's main is linked into the targets alone.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
elseif(NOT KAIROVEL_SANITIZE STREQUAL "none")
  message(FATAL_ERROR "KAIROVEL_SANITIZE must be none, address, thread or fuzz")
endif()
