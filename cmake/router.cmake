# Helpers shared by the subdirectories.

# router_daemon_code(target): the code rules for daemon libraries and programs
# (no exceptions, no RTTI).
function(router_daemon_code target)
  target_compile_options(${target} PRIVATE ${ROUTER_DAEMON_FLAGS})
endfunction()

# router_unit_test(name SOURCES ... LIBS ... [IPC] [STORE_KEYS program [STORE_TABLE table]])
# One GoogleTest executable per module, labelled "unit". With IPC the test
# runs in a private System V IPC namespace (needs root; skipped otherwise).
# With STORE_KEYS every store key the tests made the program read must be
# listed for it in docs/operations.md and in config/default.nvram; with
# STORE_TABLE (the program's rc::SettingTable) the keys must be declared in
# it, and its keys are the ones docs/operations.md lists.
function(router_unit_test name)
  cmake_parse_arguments(T "IPC" "STORE_KEYS;STORE_TABLE" "SOURCES;LIBS" ${ARGN})
  if(NOT ROUTER_TESTS)
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  if(T_STORE_KEYS)
    target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/testkit/store_keys.cpp)
    target_compile_definitions(${name} PRIVATE ROUTER_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                                               ROUTER_STORE_PROGRAM="${T_STORE_KEYS}")
  endif()
  if(T_STORE_TABLE)
    target_compile_definitions(${name} PRIVATE ROUTER_STORE_TABLE=${T_STORE_TABLE})
  endif()
  target_link_libraries(${name} PRIVATE ${T_LIBS} testkit GTest::gtest GTest::gtest_main)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(T_IPC)
    # ctest puts the cross-compiling emulator only before a COMMAND that names
    # a target; here the wrapper script comes first, so it is given the
    # emulator (empty on a native build) in front of the test program.
    add_test(NAME ${name}
             COMMAND ${CMAKE_SOURCE_DIR}/tests/sandbox/in-ipc-ns.sh
                     ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${name}>)
    set_tests_properties(${name} PROPERTIES LABELS unit SKIP_RETURN_CODE 77 TIMEOUT 120)
  else()
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS unit TIMEOUT 120)
  endif()
endfunction()

# router_program(C|CXX target... [DESTINATION dir]): programs that go on the
# router. Each is installed into bin/ of the staging root (the platform
# starts them as /bin/<name>), or into dir (www/cgi-bin for a CGI). With ROUTER_SMALL_RUNTIME a C++ program carries its own
# allocation handlers (common/cxxrt.cpp) and links whatever else it takes of
# libstdc++ and libgcc statically, cut by --gc-sections, so that it needs no
# C++ library at run time.
function(router_program lang)
  cmake_parse_arguments(P "" "DESTINATION" "" ${ARGN})
  if(NOT P_DESTINATION)
    set(P_DESTINATION bin)
  endif()
  foreach(t IN LISTS P_UNPARSED_ARGUMENTS)
    install(TARGETS ${t} RUNTIME DESTINATION ${P_DESTINATION} COMPONENT runtime)
    if(ROUTER_LTO)
      # Whole-program optimisation at the link. common-page-size=16: the
      # writable segment follows the code in the file without padding to the
      # next 4 KiB (the loader maps the page they share twice, as it does for
      # any segment that does not start on a page).
      # No build-id note: nothing on the router reads it.
      # -ffunction-sections -fdata-sections at the link too: the code that
      # link-time optimisation writes then has a section per function, so
      # that --gc-sections drops what became dead only after inlining (a
      # daemon's run_daemon folded for its own DaemonSpec leaves the other
      # loop's semaphore and timer code unreferenced).
      target_link_options(${t} PRIVATE -flto -ffunction-sections -fdata-sections
                          -Wl,-z,common-page-size=16 -Wl,--build-id=none)
    endif()
    if(ROUTER_SMALL_RUNTIME AND lang STREQUAL "CXX")
      target_link_libraries(${t} PRIVATE rccxxrt)
      target_link_options(${t} PRIVATE -static-libstdc++ -static-libgcc)
    endif()
  endforeach()
endfunction()
