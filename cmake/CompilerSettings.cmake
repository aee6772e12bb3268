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

# Windows: the headers' lean set without the min and max macros, for Windows 8
# and later (GetSystemTimePreciseAsFileTime).
if(WIN32)
  if(NOT KAIROVEL_SANITIZE STREQUAL "none")
    message(FATAL_ERROR "The Windows build has no sanitizers")
  endif()
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0602)
endif()

# The hardening Debian builds its own daemons with (dpkg-buildflags with
# hardening=+all): a stack protector, format checks, fortified functions,
# position-independent executables and full RELRO with immediate binding.
# Fortified functions need the optimiser, which the Debug build (ASan) has
# not; the fuzz targets keep clang's own settings.
if(NOT WIN32 AND NOT KAIROVEL_SANITIZE STREQUAL "fuzz")
  add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security)
  if(NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
    add_compile_definitions(_FORTIFY_SOURCE=2)
  endif()
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  add_link_options(-pie -Wl,-z,relro -Wl,-z,now)
endif()
