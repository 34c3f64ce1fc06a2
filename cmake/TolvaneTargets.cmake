# Helpers that give every target the same warnings and register kit libraries, tests and
# benchmarks so that the layering rules can be checked in one place.

function(tolvane_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
    -Wold-style-cast -Wcast-align -Woverloaded-virtual -Wimplicit-fallthrough)
  if(TOLVANE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# Subdirectories are picked up by presence, so a module adds itself by adding a folder.
# The search goes down the whole tree: a folder with a CMakeLists.txt is added, and its
# own subfolders are searched as well unless its CMakeLists.txt added them itself, so a
# nested module (app/capture/sources) needs no line in its parent's file.
function(tolvane_add_tree dir)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${dir} ${dir}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    set(path ${dir}/${child})
    if(NOT IS_DIRECTORY ${path} OR child IN_LIST ARGN)
      continue()
    endif()
    if(EXISTS ${path}/CMakeLists.txt)
      add_subdirectory(${path})
      get_property(added DIRECTORY ${path} PROPERTY SUBDIRECTORIES)
      if(added)
        continue()
      endif()
    endif()
    tolvane_add_tree(${path})
  endforeach()
endfunction()

function(tolvane_add_subdirectories)
  tolvane_add_tree(${CMAKE_CURRENT_SOURCE_DIR})
endfunction()

# tolvane_kit_library(NAME SOURCES ... [DEPS ...] [PRIVATE_DEPS ...])
# A static library of the core. The umbrella target tolvane::kit links them all.
function(tolvane_kit_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
  tolvane_warnings(${name})
  set_property(GLOBAL APPEND PROPERTY TOLVANE_KIT_TARGETS ${name})
endfunction()

# tolvane_test(NAME SOURCES ... [DEPS ...] [LABELS ...] [TIMEOUT seconds])
# One GoogleTest program; its cases are registered individually with CTest.
# The default label is "unit" (also run under the sanitizers).
function(tolvane_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;DEPS;LABELS" ${ARGN})
  if(NOT ARG_LABELS)
    set(ARG_LABELS unit)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} tolvane_test_support GTest::gtest GTest::gmock)
  # test_main.cpp lives in a static library; keep it linked.
  target_link_options(${name} PRIVATE -Wl,--undefined=main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  tolvane_warnings(${name})
  gtest_discover_tests(${name}
    PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT ${ARG_TIMEOUT}
    ENVIRONMENT "TOLVANE_BUILD_DIR=${PROJECT_BINARY_DIR};TOLVANE_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
    DISCOVERY_TIMEOUT 60)
endfunction()

# tolvane_benchmark(NAME SOURCES ... [DEPS ...])
function(tolvane_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  tolvane_warnings(${name})
endfunction()

# The core never depends on Qt: walk every kit library's link closure and stop the
# configuration when Qt shows up anywhere in it.
function(_tolvane_collect_links target out_var)
  set(seen ${${out_var}})
  get_target_property(links ${target} LINK_LIBRARIES)
  get_target_property(iface ${target} INTERFACE_LINK_LIBRARIES)
  foreach(dep IN LISTS links iface)
    if(NOT dep OR dep MATCHES "NOTFOUND" OR dep IN_LIST seen)
      continue()
    endif()
    string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" dep "${dep}")
    list(APPEND seen ${dep})
    if(TARGET ${dep})
      _tolvane_collect_links(${dep} seen)
    endif()
  endforeach()
  set(${out_var} ${seen} PARENT_SCOPE)
endfunction()

function(tolvane_check_kit_layering)
  get_property(kit_targets GLOBAL PROPERTY TOLVANE_KIT_TARGETS)
  foreach(target IN LISTS kit_targets)
    set(closure "")
    _tolvane_collect_links(${target} closure)
    foreach(dep IN LISTS closure)
      if(dep MATCHES "Qt[0-9]*::|^Qt[0-9]|libQt")
        message(FATAL_ERROR "kit library ${target} links ${dep}: the core must stay free of Qt")
      endif()
    endforeach()
  endforeach()
endfunction()
