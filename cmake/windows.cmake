# The Windows cross build (a mingw-w64 toolchain file under cmake/toolchains): the control
# library over the Win32 platform backend, and the test programs whose pieces build for
# Windows so far, run under Wine through scripts/wine-run.

# Platform sources that are the Linux backend of a header, replaced by src/platform/win32/,
# and those with no Win32 backend yet (left out of this library and its tests).
set(KDX_LINUX_BACKEND codepage_iconv loop_native message_box_native paint profile_file registry system_posix
    terminal_input window)
set(KDX_NO_WIN32_BACKEND class_factory http_client)

file(GLOB KDX_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/*/*.cpp)
foreach(name ${KDX_LINUX_BACKEND} ${KDX_NO_WIN32_BACKEND})
  list(REMOVE_ITEM KDX_SOURCES ${PROJECT_SOURCE_DIR}/src/platform/${name}.cpp)
endforeach()
file(GLOB KDX_WIN32_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/platform/win32/*.cpp)

add_library(kdxbridge STATIC ${KDX_SOURCES} ${KDX_WIN32_SOURCES})
target_include_directories(kdxbridge PUBLIC ${PROJECT_SOURCE_DIR}/src)
# Painting on GDI, windows, and image files read with the Windows Imaging Component.
target_link_libraries(kdxbridge PUBLIC Threads::Threads gdi32 user32 windowscodecs ole32 uuid)

if(NOT KDX_TESTS)
  return()
endif()

# GoogleTest from the sources Debian ships, built with this toolchain.
set(KDX_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to build for Windows")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${KDX_GTEST_SOURCE} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# Every test program runs under Wine, in a prefix of its own inside this build folder.
set(KDX_WINE_PREFIX ${PROJECT_BINARY_DIR}/wineprefix)
set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/scripts/wine-run ${KDX_WINE_PREFIX})

# The POSIX calls the tests use for scratch files and the environment, in Windows terms.
set(KDX_TEST_COMPAT ${PROJECT_SOURCE_DIR}/tests/common/win32)
add_library(kdxtestcommon STATIC ${PROJECT_SOURCE_DIR}/tests/common/temp_folder.cpp
                                 ${PROJECT_SOURCE_DIR}/sim/record_encoder.cpp)
target_include_directories(kdxtestcommon PUBLIC ${PROJECT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR})
target_include_directories(kdxtestcommon PUBLIC ${KDX_TEST_COMPAT})
target_compile_options(kdxtestcommon PUBLIC "SHELL:-include ${KDX_TEST_COMPAT}/compat.h")
target_link_libraries(kdxtestcommon PUBLIC kdxbridge GTest::gtest)

# The test folders that build for Windows, the files left out of them (they test pieces
# without a Win32 backend yet, the Linux registry file, or drive X11 windows through Xvfb),
# and the tests that check Linux-only behaviour.
set(KDX_WINDOWS_TEST_UNITS platform record ui)
set(KDX_WINDOWS_TEST_EXCLUDED platform/dispatch_test.cpp platform/registry_test.cpp
    platform/registry_threads_test.cpp platform/window_test.cpp ui/WindowPresenter_test.cpp)
# The wait descriptor and FIFOs, symbolic links and /proc have no Windows counterpart.
set(KDX_WINDOWS_TEST_FILTER_test_platform
    "MessageLoop.PostsOfAllWindowsRunInFifoOrderAndSendsRunInPlace:Profile.EncodingsAndFilesNotRead")

enable_testing()
foreach(unit ${KDX_WINDOWS_TEST_UNITS})
  set(dir ${PROJECT_SOURCE_DIR}/tests/${unit})
  file(GLOB all CONFIGURE_DEPENDS ${dir}/*_test.cpp)
  file(GLOB threaded CONFIGURE_DEPENDS ${dir}/*_threads_test.cpp)
  foreach(name ${KDX_WINDOWS_TEST_EXCLUDED})
    list(REMOVE_ITEM all ${PROJECT_SOURCE_DIR}/tests/${name})
    list(REMOVE_ITEM threaded ${PROJECT_SOURCE_DIR}/tests/${name})
  endforeach()
  set(plain ${all})
  if(threaded)
    list(REMOVE_ITEM plain ${threaded})
  endif()
  file(GLOB helpers CONFIGURE_DEPENDS ${dir}/*_util.cpp)
  foreach(kind plain threaded)
    if(NOT ${kind})
      continue()
    endif()
    set(target test_${unit})
    if(kind STREQUAL "threaded")
      set(target test_${unit}_threads)
    endif()
    add_executable(${target} ${${kind}} ${helpers})
    target_compile_definitions(${target} PRIVATE KDX_TEST_DATA="${dir}/data" KDX_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
    target_link_libraries(${target} PRIVATE kdxtestcommon kdxbridge GTest::gtest GTest::gmock GTest::gtest_main)
    set(args --gtest_brief=1)
    if(KDX_WINDOWS_TEST_FILTER_${target})
      list(APPEND args --gtest_filter=-${KDX_WINDOWS_TEST_FILTER_${target}})
    endif()
    add_test(NAME ${target} COMMAND ${target} ${args})
    # Judged by what the program printed as well as by its status: a program that ran no
    # test, or that Wine could not start, must not pass.
    set_tests_properties(${target} PROPERTIES LABELS "windows;${unit}" TIMEOUT 300
                         PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] [1-9][0-9]* test"
                         FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\];wine-run: exit status")
  endforeach()
endforeach()
