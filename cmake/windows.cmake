# The Windows cross build (a mingw-w64 toolchain file under cmake/toolchains): the control
# library over the Win32 platform backend, the COM DLLs, and the test programs, run under Wine
# through scripts/wine-run.

# Platform sources that are the Linux backend of a header, replaced by src/platform/win32/.
set(KDX_LINUX_BACKEND class_factory_posix codepage_iconv http_client loop_native message_box_native paint
    profile_file registry system_posix terminal_input window)

file(GLOB KDX_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/*/*.cpp)
foreach(name ${KDX_LINUX_BACKEND})
  list(REMOVE_ITEM KDX_SOURCES ${PROJECT_SOURCE_DIR}/src/platform/${name}.cpp)
endforeach()
file(GLOB KDX_WIN32_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/platform/win32/*.cpp)
# A COM server's exports belong to each DLL itself, not to programs that link the library.
set(KDX_COM_EXPORTS ${PROJECT_SOURCE_DIR}/src/platform/win32/com_exports.cpp)
list(REMOVE_ITEM KDX_WIN32_SOURCES ${KDX_COM_EXPORTS})

add_library(kdxbridge STATIC ${KDX_SOURCES} ${KDX_WIN32_SOURCES})
target_include_directories(kdxbridge PUBLIC ${PROJECT_SOURCE_DIR}/src)
# HTTP on WinINet, painting on GDI, windows, image files read with the Windows Imaging
# Component, and COM.
target_link_libraries(kdxbridge PUBLIC Threads::Threads wininet gdi32 user32 windowscodecs ole32 oleaut32 uuid)

# The simulated trade-API component (its web services stay on the Linux side).
file(GLOB KDX_SIM_COMPONENT CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/sim/*.cpp)
list(REMOVE_ITEM KDX_SIM_COMPONENT ${PROJECT_SOURCE_DIR}/sim/SimWebServices.cpp
     ${PROJECT_SOURCE_DIR}/sim/SimWebBodies.cpp)
add_library(kdxsim_component STATIC ${KDX_SIM_COMPONENT})
target_include_directories(kdxsim_component PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(kdxsim_component PUBLIC kdxbridge)

# The COM DLLs. The type library is compiled from the project's IDL by Wine's widl (mingw's
# own cannot write type libraries), with the automation types and stdole2.tlb it imports.
enable_language(RC)
find_program(KDX_WIDL NAMES widl-stable REQUIRED)
# Wine ships stdole2.tlb with its 64-bit DLLs; a 32-bit library imports the same one by LIBID.
find_path(KDX_STDOLE_DIR stdole2.tlb PATHS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows
          /usr/lib/i386-linux-gnu/wine/i386-windows /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH REQUIRED)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(KDX_WIDL_ARCH --win64)
  set(KDX_STDCALL_ARGS "" "" "" "")
else()
  set(KDX_WIDL_ARCH --win32)
  set(KDX_STDCALL_ARGS "@12" "@0" "@0" "@0")
endif()
file(WRITE ${PROJECT_BINARY_DIR}/kdxbridge_tlb.idl
     "import \"oaidl.idl\";\n#define STDOLE_TLB \"stdole2.tlb\"\n#include \"ORV_Velmar_KDX.idl\"\n")
set(KDX_TLB ${PROJECT_BINARY_DIR}/kdxbridge.tlb)
add_custom_command(OUTPUT ${KDX_TLB}
                   COMMAND ${KDX_WIDL} -t ${KDX_WIDL_ARCH} -I ${PROJECT_SOURCE_DIR}/src/resources -L ${KDX_STDOLE_DIR} -o ${KDX_TLB}
                           ${PROJECT_BINARY_DIR}/kdxbridge_tlb.idl
                   DEPENDS ${PROJECT_SOURCE_DIR}/src/resources/ORV_Velmar_KDX.idl
                   COMMENT "Compiling the type library")

# target, and the DLL's file name; source: its own file (what it serves); extra: resources
# beyond the version information.
function(kdx_com_dll name output description source extra)
  set(KDX_DLL_NAME ${output})
  set(KDX_DLL_DESCRIPTION "${description}")
  set(KDX_RC_EXTRA "${extra}")
  configure_file(${PROJECT_SOURCE_DIR}/windows/module.rc.in ${PROJECT_BINARY_DIR}/${name}.rc @ONLY)
  list(GET KDX_STDCALL_ARGS 0 get)
  list(GET KDX_STDCALL_ARGS 1 unload)
  list(GET KDX_STDCALL_ARGS 2 reg)
  list(GET KDX_STDCALL_ARGS 3 unreg)
  file(WRITE ${PROJECT_BINARY_DIR}/${name}.def
       "EXPORTS\n  DllGetClassObject=KdxComGetClassObject${get} PRIVATE\n"
       "  DllCanUnloadNow=KdxComCanUnloadNow${unload} PRIVATE\n"
       "  DllRegisterServer=KdxComRegisterServer${reg} PRIVATE\n"
       "  DllUnregisterServer=KdxComUnregisterServer${unreg} PRIVATE\n")
  add_library(${name} SHARED ${source} ${KDX_COM_EXPORTS} ${PROJECT_BINARY_DIR}/${name}.rc
              ${PROJECT_BINARY_DIR}/${name}.def)
  set_target_properties(${name} PROPERTIES PREFIX "" OUTPUT_NAME ${output})
endfunction()

kdx_com_dll(kdxbridge_dll kdxbridge "ORV_Velmar_KDX ActiveX Control module" ${PROJECT_SOURCE_DIR}/windows/kdxbridge_dll.cpp
            "1 TYPELIB \"${KDX_TLB}\"\n1 BITMAP \"${PROJECT_SOURCE_DIR}/windows/toolbox.bmp\"")
set_source_files_properties(${PROJECT_BINARY_DIR}/kdxbridge_dll.rc PROPERTIES OBJECT_DEPENDS ${KDX_TLB})
target_link_libraries(kdxbridge_dll PRIVATE kdxbridge)
kdx_com_dll(kdxsim_dll kdxsim "Simulated trade-API component" ${PROJECT_SOURCE_DIR}/windows/kdxsim_dll.cpp "")
target_link_libraries(kdxsim_dll PRIVATE kdxsim_component)

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
# The X11 driver (xvfb_util) stays out: the windows here are Wine's.
add_library(kdxtestcommon STATIC ${PROJECT_SOURCE_DIR}/tests/common/temp_folder.cpp
            ${PROJECT_SOURCE_DIR}/tests/common/control_util.cpp ${PROJECT_SOURCE_DIR}/tests/common/host_util.cpp)
target_include_directories(kdxtestcommon PUBLIC ${PROJECT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR})
target_include_directories(kdxtestcommon PUBLIC ${KDX_TEST_COMPAT})
target_compile_options(kdxtestcommon PUBLIC "SHELL:-include ${KDX_TEST_COMPAT}/compat.h")
target_link_libraries(kdxtestcommon PUBLIC kdxsim_component kdxbridge GTest::gtest ws2_32)  # ws2_32: the loopback servers

# The test folders that build for Windows (host and tools test Linux programs: the console host
# on libedit, the skin drawn with gdk-pixbuf), the files left out of them, and the tests that
# check Linux-only behaviour.
set(KDX_WINDOWS_TEST_UNITS control orders platform queries record reports resources sim ui)
set(KDX_WINDOWS_TEST_EXCLUDED
    # The Linux registry file.
    platform/registry_test.cpp platform/registry_threads_test.cpp
    # X11 windows driven through Xvfb.
    platform/window_test.cpp ui/WindowPresenter_test.cpp
    # The simulated web services: Debian ships cpp-httplib's implementation compiled for Linux only.
    queries/http_query_threads_test.cpp queries/login_session_threads_test.cpp queries/statements_threads_test.cpp
    sim/sim_web_test.cpp
    # The Linux registry file, and creation through dlopen of a .so found by /proc/self/exe.
    control/Module_registration_test.cpp)
# The message loop's wait descriptor (polled) has no Windows counterpart.
set(KDX_WINDOWS_TEST_FILTER_test_platform
    "MessageLoop.PostsOfAllWindowsRunInFifoOrderAndSendsRunInPlace")
# SIGPIPE is a POSIX signal that only the libcurl backend has to take back. Wine's WinINet
# ignores the receive time-out, so the fetches from a silent server there would never end.
# The system's proxy settings are the environment's (http_proxy) only on Linux.
set(KDX_WINDOWS_TEST_FILTER_test_queries_threads "HttpClientRequests.SigpipeWhileLibcurlRunsIsTakenBack:\
HttpFetches.TellEveryOutcomeOnce:HttpClientRequests.SendTheUrlInTheAnsiCodePageAndItsCookies")

# The 32-bit tree runs the COM tests alone: its library is the 64-bit one's, built again.
option(KDX_WINDOWS_UNIT_TESTS "Build and run the unit test programs" ON)
if(NOT KDX_WINDOWS_UNIT_TESTS)
  set(KDX_WINDOWS_TEST_UNITS)
  set_target_properties(kdxtestcommon PROPERTIES EXCLUDE_FROM_ALL TRUE)
endif()

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
    if(target STREQUAL "test_queries_threads")
      # Its allocation-failure operator new and delete use malloc and free, as they must.
      target_compile_options(${target} PRIVATE -Wno-mismatched-new-delete)
    endif()
    # Judged by what the program printed as well as by its status: a program that ran no
    # test, or that Wine could not start, must not pass.
    set_tests_properties(${target} PROPERTIES LABELS "windows;${unit}" TIMEOUT 300
                         PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] [1-9][0-9]* test"
                         FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\];wine-run: exit status")
  endforeach()
endforeach()


# The COM DLLs under Wine, as a Windows developer meets them: registered with regsvr32, then
# driven by name from a script host, and sited on a form by a container program that knows
# only their registration, the interface identifiers and the DISPIDs.
# A prefix of their own: the classes they register in it would otherwise be found by the unit
# tests running beside them, which expect an empty registry.
set(KDX_WINE_RUN ${PROJECT_SOURCE_DIR}/scripts/wine-run ${PROJECT_BINARY_DIR}/wineprefix-com)
foreach(dll kdxsim kdxbridge)
  add_test(NAME regsvr32_${dll} COMMAND ${KDX_WINE_RUN} regsvr32 Z:$<TARGET_FILE:${dll}_dll>)
  add_test(NAME unregister_${dll} COMMAND ${KDX_WINE_RUN} regsvr32 /u Z:$<TARGET_FILE:${dll}_dll>)
  set_tests_properties(regsvr32_${dll} PROPERTIES FIXTURES_SETUP com LABELS windows
                       PASS_REGULAR_EXPRESSION "Successfully registered")
  set_tests_properties(unregister_${dll} PROPERTIES FIXTURES_CLEANUP com LABELS windows
                       PASS_REGULAR_EXPRESSION "Successfully unregistered")
endforeach()

# The simulated web services are the Linux kdx-host's, on loopback (KDX_LINUX_HOST: its path).
set(KDX_LINUX_HOST "" CACHE FILEPATH "The Linux kdx-host, to serve the simulated web services")
set(KDX_WITH_WEB ${PROJECT_SOURCE_DIR}/tests/windows/with-web-services ${KDX_LINUX_HOST})
# A 32-bit client is the 32-bit script host, which finds the classes the 32-bit regsvr32 wrote.
set(KDX_CSCRIPT cscript)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(KDX_CSCRIPT C:/windows/syswow64/cscript.exe)
endif()
add_test(NAME com_script_session
         COMMAND ${KDX_WITH_WEB} ${PROJECT_BINARY_DIR}/com-tests/script.ini
                 ${KDX_WINE_RUN} ${KDX_CSCRIPT} //nologo Z:${PROJECT_SOURCE_DIR}/tests/windows/session.vbs @PROFILE@)
set_tests_properties(com_script_session PROPERTIES FIXTURES_REQUIRED com LABELS windows TIMEOUT 120
                     PASS_REGULAR_EXPRESSION "session: ok" FAIL_REGULAR_EXPRESSION "FAIL;wine-run: exit status")

add_executable(test_com_container ${PROJECT_SOURCE_DIR}/tests/windows/com_container.cpp)
target_link_libraries(test_com_container PRIVATE GTest::gtest GTest::gtest_main ole32 oleaut32 uuid)
add_dependencies(test_com_container kdxbridge_dll kdxsim_dll)
add_test(NAME test_com_container
         COMMAND ${KDX_WITH_WEB} ${PROJECT_BINARY_DIR}/com-tests/container.ini
                 ${KDX_WINE_RUN} $<TARGET_FILE:test_com_container> --gtest_brief=1)
if(NOT KDX_LINUX_HOST)
  set_tests_properties(com_script_session test_com_container PROPERTIES DISABLED TRUE)
endif()
set_tests_properties(test_com_container PROPERTIES FIXTURES_REQUIRED com LABELS windows TIMEOUT 120
                     PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] [1-9][0-9]* test"
                     FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\];wine-run: exit status")
