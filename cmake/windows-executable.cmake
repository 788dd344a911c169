# "Kestlo desktop.exe": launcher/main.cpp and resources/ over kestlo_core.
enable_language(RC)

set(KESTLO_COMPANY_NAME "Kestlo Technology Co., Ltd." CACHE STRING "CompanyName of the version resource")
set(KESTLO_COPYRIGHT "Copyright (C) 2026 Kestlo Technology Co., Ltd." CACHE STRING
    "LegalCopyright of the version resource")
foreach(variable KESTLO_COMPANY_NAME KESTLO_COPYRIGHT)
  if("${${variable}}" STREQUAL "" OR "${${variable}}" MATCHES "[\"\\\\]")
    message(FATAL_ERROR "${variable} must be a non-empty text without double quotes or backslashes")
  endif()
endforeach()
configure_file(resources/version_strings.h.in version_strings.h @ONLY)

# The file check fails when the exe grows past this (59,560 bytes of it are the icon).
set(KESTLO_SIZE_BUDGET 86016 CACHE STRING "Most bytes \"Kestlo desktop.exe\" may have, without a signature")

# The oldest Windows the exe runs on: XP from Service Pack 1, the first with
# SetDllDirectoryW, its newest import (the PE header cannot say which service
# pack). The headers then declare nothing newer, except what they do not guard
# by version (SetDefaultDllDirectories, looked up at run time).
set(KESTLO_OLDEST_WINDOWS 5.1)
string(REPLACE "." ";" oldest "${KESTLO_OLDEST_WINDOWS}")
list(GET oldest 0 oldest_major)
list(GET oldest 1 oldest_minor)
math(EXPR oldest_winnt "(${oldest_major} << 8) | ${oldest_minor}" OUTPUT_FORMAT HEXADECIMAL)

target_link_libraries(kestlo_core PUBLIC advapi32 shell32 user32)
target_compile_definitions(kestlo_core PUBLIC _WIN32_WINNT=${oldest_winnt} WINVER=${oldest_winnt})
target_compile_options(kestlo_core PUBLIC
  -fno-exceptions                   # the launcher neither throws nor catches: no landing pads
  -fno-asynchronous-unwind-tables   # and so no unwind tables for its own code
  -ffunction-sections -fdata-sections)  # lets --gc-sections drop what main never reaches
# Reproducible: no build folder in the binary (nothing records __FILE__ today; this keeps it so).
target_compile_options(kestlo_core PUBLIC -ffile-prefix-map=${CMAKE_SOURCE_DIR}=.)

add_executable(kestlo_desktop WIN32 launcher/main.cpp launcher/lean_runtime.cpp resources/kestlo.rc)
set_target_properties(kestlo_desktop PROPERTIES OUTPUT_NAME "Kestlo desktop")
target_link_libraries(kestlo_desktop PRIVATE kestlo_core)
# windres finds version_strings.h here; the .rc's own folder holds the icon and manifest.
target_include_directories(kestlo_desktop PRIVATE ${CMAKE_CURRENT_BINARY_DIR})
# The .rc is UTF-8, so that the vendor strings may be Chinese.
set_source_files_properties(resources/kestlo.rc PROPERTIES COMPILE_OPTIONS "--codepage=65001")
set_property(SOURCE resources/kestlo.rc APPEND PROPERTY OBJECT_DEPENDS
             ${CMAKE_CURRENT_SOURCE_DIR}/resources/kestlo.ico ${CMAKE_CURRENT_SOURCE_DIR}/resources/kestlo.manifest)

# Link-time optimisation: inlines across the launcher's units and drops what
# main never reaches (about 2 KB).
set_property(TARGET kestlo_core kestlo_desktop PROPERTY INTERPROCEDURAL_OPTIMIZATION ON)
# The link map, for the file check: which library members were linked in.
target_link_options(kestlo_desktop PRIVATE -Wl,-Map=${CMAKE_CURRENT_BINARY_DIR}/kestlo_desktop.map)

target_link_options(kestlo_desktop PRIVATE
  -static                      # one file: libgcc and libstdc++ linked in, no MinGW DLLs to ship
  -s                           # stripped
  -Wl,--tsaware                # TERMINAL_SERVER_AWARE (DYNAMIC_BASE and NX_COMPAT are on by default)
  -Wl,--no-insert-timestamp    # reproducible: no link time in the header
  -Wl,--gc-sections            # drop unreferenced functions and data
)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # The OS and subsystem versions Windows checks before it starts the file.
  target_link_options(kestlo_desktop PRIVATE
    -Wl,--major-os-version,${oldest_major} -Wl,--minor-os-version,${oldest_minor}
    -Wl,--major-subsystem-version,${oldest_major} -Wl,--minor-subsystem-version,${oldest_minor})
  # NO_SEH: nothing in the exe installs a structured exception handler (no
  # SafeSEH table either), so Windows must never call one in it. x64 unwinds
  # from tables instead, and has no such flag.
  target_link_options(kestlo_desktop PRIVATE -Wl,--no-seh)
endif()
# libstdc++'s throw helpers, sent to launcher/lean_runtime.cpp's aborting ones.
# That file is a plain object: the link-time optimiser does not see calls that
# --wrap redirects, and would drop definitions it compiled itself.
set_source_files_properties(launcher/lean_runtime.cpp PROPERTIES COMPILE_OPTIONS -fno-lto)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  foreach(helper _ZSt20__throw_length_errorPKc _ZSt17__throw_bad_allocv _ZSt19__throw_logic_errorPKc
                 _ZSt28__throw_bad_array_new_lengthv _ZSt24__throw_out_of_range_fmtPKcz)
    target_link_options(kestlo_desktop PRIVATE -Wl,--wrap=${helper})
  endforeach()
endif()

# Prints the file's size and SHA-256 after each link.
add_custom_command(TARGET kestlo_desktop POST_BUILD
  COMMAND ${CMAKE_COMMAND} -DFILE=$<TARGET_FILE:kestlo_desktop> -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/print-file-info.cmake
  VERBATIM)

# THIRD-PARTY-NOTICES.txt beside the exe: the notices of the runtime code the
# link map shows linked in (resources/notices.py), each member by the source
# its debug information names, for the release. GNU ld's map only: lld's names
# an archive member without its archive.
set(KESTLO_MINGW_COPYRIGHT /usr/share/doc/mingw-w64-common/copyright CACHE FILEPATH
    "The toolchain's Debian copyright file, which holds the mingw-w64 runtime's licence")
set(notices_file "")
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  set(notices_file ${CMAKE_CURRENT_BINARY_DIR}/THIRD-PARTY-NOTICES.txt)
  add_custom_command(TARGET kestlo_desktop POST_BUILD
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/resources/notices.py
            ${CMAKE_CURRENT_BINARY_DIR}/kestlo_desktop.map ${KESTLO_MINGW_COPYRIGHT} ${CMAKE_OBJDUMP} ${notices_file}
    VERBATIM)
endif()

# Which Wine prefixes the scenarios run in.
set(KESTLO_WINE_ARCHES "win32,win64" CACHE STRING "Wine prefixes for the scenario runs: win32, win64 or both")

# Checks of the built file: headers, imports, resources, byte by byte. The
# 64-bit build is only a vehicle for the Wine runs (tools/test.sh says when).
enable_testing()
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  add_test(NAME executable.file
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/resources/executable_test.py
            $<TARGET_FILE:kestlo_desktop> ${CMAKE_CURRENT_BINARY_DIR}/kestlo-facts.json)
endif()

# The headers refuse what is newer than the oldest Windows: a call to
# GetTickCount64 (Vista) does not compile with the product's settings.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/newer_api.cpp
     "#include \"platform/win32.h\"\nunsigned long long Uptime() { return GetTickCount64(); }\n")
add_library(newer_api_refused OBJECT EXCLUDE_FROM_ALL ${CMAKE_CURRENT_BINARY_DIR}/newer_api.cpp)
target_link_libraries(newer_api_refused PRIVATE kestlo_core)
add_test(NAME executable.newer_api_refused
         COMMAND ${CMAKE_COMMAND} --build ${CMAKE_CURRENT_BINARY_DIR} --target newer_api_refused)
set_tests_properties(executable.newer_api_refused PROPERTIES
  PASS_REGULAR_EXPRESSION "GetTickCount64[^ ]* was not declared|undeclared identifier [^ ]*GetTickCount64")

# What the build put in the file, for the scripts that check or publish it
# (resources/executable_test.py, tools/release_test.py): the one place they read it from.
file(CONFIGURE OUTPUT kestlo-facts.json @ONLY CONTENT [[{
  "login_host": "@KESTLO_LOGIN_HOST@",
  "login_page_url": "@KESTLO_LOGIN_PAGE_URL@",
  "company_name": "@KESTLO_COMPANY_NAME@",
  "copyright": "@KESTLO_COPYRIGHT@",
  "version": "@PROJECT_VERSION@",
  "size_budget": @KESTLO_SIZE_BUDGET@,
  "oldest_windows": "@KESTLO_OLDEST_WINDOWS@",
  "link_map": "@CMAKE_CURRENT_BINARY_DIR@/kestlo_desktop.map",
  "mingw_copyright": "@KESTLO_MINGW_COPYRIGHT@",
  "objdump": "@CMAKE_OBJDUMP@",
  "notices": "@notices_file@"
}
]])

# Helpers of the end-to-end runs under Wine (tools/windows/).
foreach(helper trace_collector fake_browser minimal_launch)
  add_executable(${helper} tools/windows/${helper}.cpp)
  target_link_options(${helper} PRIVATE -static -s)
endforeach()
set_target_properties(fake_browser minimal_launch PROPERTIES WIN32_EXECUTABLE ON)
# The registry probes against the real registry (wine_scenarios.py --probes).
# Built from the sources it needs, not against kestlo_core: mixing that
# library's link-time-optimised objects with plain ones makes the 32-bit
# linker see libstdc++'s inline functions twice.
add_executable(registry_probes probes/registry_probes_main.cpp probes/registry_contract.cpp
               discovery/user_uninstall_path.cpp discovery/registry_views.cpp)
target_include_directories(registry_probes PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(registry_probes PRIVATE advapi32)
target_link_options(registry_probes PRIVATE -static -s)
add_library(planted_dll SHARED tools/windows/planted_dll.cpp)
set_target_properties(planted_dll PROPERTIES PREFIX "" OUTPUT_NAME planted)
target_link_options(planted_dll PRIVATE -static -s)

# The Wine runs read no scenario file themselves: the host tool
# (kestlo-standin-run, tools/standin_run.cpp), built here for this machine by
# its own compiler, exports each one for them. The first test builds it.
# One folder for every Windows preset: the second and third builds find it built.
set(KESTLO_HOST_TOOL_DIR ${CMAKE_SOURCE_DIR}/build/host-tool)
add_custom_target(host_tool
  COMMAND ${CMAKE_COMMAND} -E env --unset=CC --unset=CXX
          ${CMAKE_COMMAND} -S ${CMAKE_SOURCE_DIR} -B ${KESTLO_HOST_TOOL_DIR} -DCMAKE_BUILD_TYPE=Release
          -DBUILD_TESTING=OFF -DKESTLO_LOGIN_HOST=${KESTLO_LOGIN_HOST}
  COMMAND ${CMAKE_COMMAND} --build ${KESTLO_HOST_TOOL_DIR} --target kestlo-standin-run
  VERBATIM)
add_test(NAME wine.host_tool COMMAND ${CMAKE_COMMAND} --build ${CMAKE_CURRENT_BINARY_DIR} --target host_tool)
set_tests_properties(wine.host_tool PROPERTIES FIXTURES_SETUP host_tool)
set(wine_runner /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/tools/wine_scenarios.py
    --build ${CMAKE_CURRENT_BINARY_DIR} --standin-run ${KESTLO_HOST_TOOL_DIR}/kestlo-standin-run
    --arch ${KESTLO_WINE_ARCHES})

# The registry probes the stand-in answers on the host, against Wine's real
# registry; then the real executable under Wine, on every scenario and the
# demo machine, in a 32-bit and a 64-bit prefix (tools/wine_scenarios.py). On a machine that
# cannot run 32-bit programs the runner exits with 77 and ctest reports the
# test as skipped; the 64-bit build's runs stand in for it there.
file(GLOB wine_scenario_files CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/scenarios/*.scenario)
add_test(NAME wine.scenarios
  COMMAND ${wine_runner} --out ${CMAKE_CURRENT_BINARY_DIR}/wine --probes
          ${wine_scenario_files} ${CMAKE_CURRENT_SOURCE_DIR}/demo/demo.scenario)
set_tests_properties(wine.scenarios PROPERTIES TIMEOUT 1200 SKIP_RETURN_CODE 77 FIXTURES_REQUIRED host_tool)

# Seeded random machines, each run on the stand-in and as the real executable
# under Wine: the trace and the decision must be the same, byte for byte.
set(KESTLO_RANDOM_MACHINES "1:20" CACHE STRING "Random machines compared with Wine: FIRST:COUNT seeds")
add_test(NAME wine.random_machines
  COMMAND ${wine_runner} --out ${CMAKE_CURRENT_BINARY_DIR}/wine-random --random ${KESTLO_RANDOM_MACHINES})
set_tests_properties(wine.random_machines PROPERTIES TIMEOUT 3600 SKIP_RETURN_CODE 77 FIXTURES_REQUIRED host_tool)

# A copy of the executable in a folder where DLLs named like system ones were
# planted, Wine told to load them as Windows loads a DLL that is not a KnownDLL
# (from the executable's folder first): none may be loaded, with the message
# box shown or a browser started.
add_test(NAME wine.planted_dlls
  COMMAND ${wine_runner} --out ${CMAKE_CURRENT_BINARY_DIR}/wine-planted --plant-dlls
          ${CMAKE_CURRENT_SOURCE_DIR}/scenarios/nothing-installed.scenario
          ${CMAKE_CURRENT_SOURCE_DIR}/scenarios/chrome-and-firefox.scenario)
set_tests_properties(wine.planted_dlls PROPERTIES TIMEOUT 600 SKIP_RETURN_CODE 77 FIXTURES_REQUIRED host_tool)
