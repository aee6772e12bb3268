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
elseif(NOT KAIROVEL_SANITIZE STREQUAL "none")
  message(FATAL_ERROR "KAIROVEL_SANITIZE must be none, address or thread")
endif()

# Windows: the headers' lean set without the min and max macros, for Windows 8
# and later (GetSystemTimePreciseAsFileTime).
if(WIN32)
  if(NOT KAIROVEL_SANITIZE STREQUAL "none")
    message(FATAL_ERROR "The Windows build has no sanitizers")
  endif()
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0602)
endif()
