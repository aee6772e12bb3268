# GoogleTest and GoogleMock built from Debian's sources (package googletest,
# /usr/src/googletest) with the project's compiler, for builds that cannot use
# the machine's prebuilt libraries (the Windows cross build). Gives the same
# targets as find_package(GTest): GTest::gtest, GTest::gmock, GTest::gmock_main.
set(KAIROVEL_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to build the tests with")
if(NOT EXISTS ${KAIROVEL_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest sources in ${KAIROVEL_GOOGLETEST_SOURCE} (scripts/install-deps installs googletest)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
add_subdirectory(${KAIROVEL_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
# Its own CMake files name GTest::gtest and GTest::gmock (and their mains) already.
foreach(target gtest gtest_main gmock gmock_main)
  if(NOT TARGET GTest::${target})
    add_library(GTest::${target} ALIAS ${target})
  endif()
endforeach()
