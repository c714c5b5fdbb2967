# The Windows builds: the shipped 32-bit one and the 64-bit one.
enable_language(RC)

set(DIST_DIR "${CMAKE_SOURCE_DIR}/dist/${DIST_NAME}" CACHE PATH "where the deliverables go")
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY "${DIST_DIR}")
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY "${DIST_DIR}")

add_compile_options(-Wall -Wextra -Wno-cast-function-type -O2)
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
# The C++ runtime is linked in, so the files import only system DLLs.
set(STATIC_RUNTIME -static -static-libgcc -static-libstdc++)

add_library(installer_core OBJECT ${INSTALLER_CORE_SOURCES})
target_include_directories(installer_core PUBLIC platform installer)

add_library(Drvmate SHARED ${CUSTOM_ACTION_SOURCES} installer/Drvmate.def installer/Drvmate.rc)
set_target_properties(Drvmate PROPERTIES PREFIX "" OUTPUT_NAME Drvmate)
target_link_options(Drvmate PRIVATE ${STATIC_RUNTIME} -Wl,--enable-stdcall-fixup)
target_link_libraries(Drvmate PRIVATE installer_core setupapi cfgmgr32 ole32 msi)

add_executable(Svcsweep ${SVCSWEEP_MAIN} ${SVCSWEEP_SOURCES} cleaner/Svcsweep.rc)
target_include_directories(Svcsweep PRIVATE platform cleaner)
target_compile_options(Svcsweep PRIVATE -UUNICODE -U_UNICODE)
target_link_options(Svcsweep PRIVATE ${STATIC_RUNTIME} -mconsole)
target_link_libraries(Svcsweep PRIVATE advapi32 shlwapi shell32)

add_executable(logread tools/logread/logread.cpp ${LOGREAD_SOURCES})
target_link_options(logread PRIVATE ${STATIC_RUNTIME} -mconsole)

# Test programs for the Wine beds, built by both builds: the 64-bit ones run in a 64-bit prefix,
# the 32-bit ones in a 64-bit prefix under WOW64 and in a 32-bit one. They are not deliverables.
file(GLOB WINE_TESTS CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/tests/wine/*_test.cpp")
foreach(source ${WINE_TESTS})
    get_filename_component(name ${source} NAME_WE)
    add_executable(${name} ${source} tests/wine/check.cpp tests/wine/bytes.cpp)
    target_include_directories(${name} PRIVATE platform installer tests/wine tools/logread)
    target_sources(${name} PRIVATE ${LOGREAD_SOURCES})
    target_link_options(${name} PRIVATE ${STATIC_RUNTIME} -mconsole -municode)
    target_link_libraries(${name} PRIVATE setupapi cfgmgr32 ole32 msi advapi32 shlwapi shell32 newdev)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/wine-tests")
endforeach()
# The checker that tests/wine_kill.sh runs around the processes of a prefix that it kills.
add_executable(kill_check tests/wine/kill_check.cpp tests/wine/check.cpp tests/wine/bytes.cpp ${LOGREAD_SOURCES})
target_include_directories(kill_check PRIVATE tests/wine tools/logread)
target_link_options(kill_check PRIVATE ${STATIC_RUNTIME} -mconsole -municode)
target_link_libraries(kill_check PRIVATE setupapi msi advapi32)
set_target_properties(kill_check PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/wine-tests")
# The conformance cases as a Windows program, with the Windows set-up: run in the Wine beds
# like the test programs above, and over the host layer as the host build's conformance_tests.
file(GLOB CONFORMANCE_SOURCES CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/tests/conformance/*.cpp")
list(REMOVE_ITEM CONFORMANCE_SOURCES "${CMAKE_SOURCE_DIR}/tests/conformance/setup_host.cpp")
add_executable(conformance_test ${CONFORMANCE_SOURCES})
target_include_directories(conformance_test PRIVATE platform tests/conformance)
target_link_options(conformance_test PRIVATE ${STATIC_RUNTIME} -mconsole)
target_link_libraries(conformance_test PRIVATE setupapi cfgmgr32 ole32 msi advapi32 shlwapi shell32 version)
set_target_properties(conformance_test PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/wine-tests")

# A library that the planted-library cases copy next to the field runner under the names of
# system libraries: its entry point leaves a marker file behind.
add_library(planted SHARED tests/wine/planted/planted.cpp tests/wine/planted/planted.def)
set_target_properties(planted PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/wine-tests"
                                         RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/wine-tests")
target_link_options(planted PRIVATE ${STATIC_RUNTIME} -Wl,--enable-stdcall-fixup)

# The library exports only the custom actions: the device test calls the installer's
# operations directly, from the installer's core.
target_link_libraries(devices_test PRIVATE installer_core)

# The field runner: calls one export with a null session from next to a driver package.
# Its report binds the Setup API at run time from the system folder (installer/library.cpp).
add_executable(drvrun tools/drvrun/drvrun.cpp tools/drvrun/report.cpp tools/drvrun/drvrun.rc installer/library.cpp
                      installer/text.cpp ${LOGREAD_SOURCES})
target_include_directories(drvrun PRIVATE platform installer tools/logread)
target_link_libraries(drvrun PRIVATE advapi32 ole32)
target_link_options(drvrun PRIVATE ${STATIC_RUNTIME} -mconsole -municode)
