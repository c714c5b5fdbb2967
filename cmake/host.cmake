# The host build: the products over the project's own platform layer, with the unit tests,
# under AddressSanitizer and UndefinedBehaviorSanitizer.
find_package(GTest REQUIRED)
include(cmake/host_runtime.cmake)
enable_testing()

set(SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
add_compile_options(-Wall -Wextra -Wno-cast-function-type -g -O1 ${SANITIZERS})
add_link_options(${SANITIZERS})

# The layer (platform/host: the Win32 calls) over the simulated machine (platform/machine).
# The products see only platform/winapi.h; tests see the machine too.
file(GLOB WINHOST_SOURCES CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/platform/host/*.cpp"
     "${CMAKE_SOURCE_DIR}/platform/machine/*.cpp")
add_library(winhost OBJECT ${WINHOST_SOURCES})
target_include_directories(winhost PUBLIC platform platform/host platform/machine)

add_library(installer_core OBJECT ${INSTALLER_CORE_SOURCES})
target_include_directories(installer_core PUBLIC platform installer)
add_library(drvmate_host STATIC ${CUSTOM_ACTION_SOURCES})
target_link_libraries(drvmate_host PUBLIC installer_core)
use_host_runtime(drvmate_host installer_core)

if(SVCSWEEP_SOURCES)
    add_library(svcsweep_host STATIC ${SVCSWEEP_SOURCES})
    target_include_directories(svcsweep_host PUBLIC platform cleaner)
    use_host_runtime(svcsweep_host)
endif()

add_executable(logread tools/logread/logread.cpp ${LOGREAD_SOURCES})
# The log reader is a tool like its Windows build and is measured as one (its memory must not
# grow with the log); its decoder runs under the sanitizers in host_tests and the fuzz targets.
target_compile_options(logread PRIVATE -fno-sanitize=all)
target_link_options(logread PRIVATE -fno-sanitize=all)

file(GLOB HOST_TESTS CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/tests/host/*.cpp")
add_executable(host_tests ${HOST_TESTS} ${LOGREAD_SOURCES} tools/drvrun/report.cpp)
target_include_directories(host_tests PRIVATE tests/host tools/logread tools/drvrun installer)
target_link_libraries(host_tests PRIVATE drvmate_host winhost GTest::gtest GTest::gtest_main)
if(SVCSWEEP_SOURCES)
    target_link_libraries(host_tests PRIVATE svcsweep_host)
endif()
include(GoogleTest)
gtest_discover_tests(host_tests DISCOVERY_TIMEOUT 60)

# The conformance cases over the host layer: the same cases as the Windows build's
# conformance_test.exe, with the host machine's set-up, under the same sanitizers.
file(GLOB CONFORMANCE_SOURCES CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/tests/conformance/*.cpp")
list(REMOVE_ITEM CONFORMANCE_SOURCES "${CMAKE_SOURCE_DIR}/tests/conformance/setup_windows.cpp")
# The runner writes to the real standard output; the cases call the runtime as products do.
set(CONFORMANCE_RUNNER "${CMAKE_SOURCE_DIR}/tests/conformance/harness.cpp")
list(REMOVE_ITEM CONFORMANCE_SOURCES "${CONFORMANCE_RUNNER}")
add_library(conformance_cases STATIC ${CONFORMANCE_SOURCES})
target_include_directories(conformance_cases PRIVATE tests/conformance platform platform/host platform/machine)
use_host_runtime(conformance_cases)
add_executable(conformance_tests ${CONFORMANCE_RUNNER})
target_include_directories(conformance_tests PRIVATE tests/conformance)
# Whole: every case registers itself, and nothing else refers to it.
target_link_libraries(conformance_tests PRIVATE winhost "$<LINK_LIBRARY:WHOLE_ARCHIVE,conformance_cases>")

# The fault explorer (./faults.sh, and a sample in ./test.sh): every platform call of each
# scenario failed and killed in turn, under the same sanitizers.
file(GLOB FAULT_EXPLORER_SOURCES CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/tests/faults/*.cpp")
add_executable(fault_explorer ${FAULT_EXPLORER_SOURCES} tools/logread/decode.cpp)
target_include_directories(fault_explorer PRIVATE tests/faults tools/logread)
# std::regex under the sanitizers draws false warnings from the standard library.
target_compile_options(fault_explorer PRIVATE -Wno-maybe-uninitialized)
target_link_libraries(fault_explorer PRIVATE drvmate_host winhost)
if(SVCSWEEP_SOURCES)
    target_link_libraries(fault_explorer PRIVATE svcsweep_host)
endif()
