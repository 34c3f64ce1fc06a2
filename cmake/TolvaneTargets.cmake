# Helpers that give every target the same warnings and register kit libraries, tests and
# benchmarks so that the layering rules can be checked in one place.

function(tolvane_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
    -Wold-style-cast -Wcast-align -Woverloaded-virtual -Wimplicit-fallthrough)
  if(TOLVANE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
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
# The sanitizer job runs only the "unit" tests, so it builds only them (and the programs
# they start) through this one target instead of the whole tree.
if(NOT TARGET tolvane_unit_tests)
  add_custom_target(tolvane_unit_tests)
endif()

function(tolvane_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;DEPS;LABELS" ${ARGN})
  if(NOT ARG_LABELS)
    set(ARG_LABELS unit)
  endif()
  if("unit" IN_LIST ARG_LABELS)
    add_dependencies(tolvane_unit_tests ${name})
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
  gtest_discover_tests(${name} TEST_LIST ${name}_TESTS DISCOVERY_TIMEOUT 60)
  # gtest_discover_tests splits list-valued properties (two labels, two variables), so the
  # properties are set by a script of ours that CTest reads after the discovered list.
  set(properties_script ${CMAKE_CURRENT_BINARY_DIR}/${name}_properties.cmake)
  file(WRITE ${properties_script}
    "if(${name}_TESTS)\n"
    "  set_tests_properties(\${${name}_TESTS} PROPERTIES LABELS \"${ARG_LABELS}\" TIMEOUT ${ARG_TIMEOUT}\n"
    "    ENVIRONMENT \"TOLVANE_BUILD_DIR=${PROJECT_BINARY_DIR};TOLVANE_SOURCE_DIR=${PROJECT_SOURCE_DIR};TOLVANE_TEST_SOURCES=1\")\n"
    "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${properties_script})
endfunction()

# tolvane_benchmark(NAME SOURCES ... [DEPS ...])
function(tolvane_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  tolvane_warnings(${name})
endfunction()

# tolvane_qt_free(TARGET ...): targets below the desktop application, checked never to
# link Qt (every kit library is registered by tolvane_kit_library).
function(tolvane_qt_free)
  set_property(GLOBAL APPEND PROPERTY TOLVANE_QT_FREE_TARGETS ${ARGN})
endfunction()

# tolvane_layer(FOLDER [USES FOLDER ...]): the folders whose headers FOLDER's sources may
# include besides its own. Arrows point down: a folder never includes one that uses it.
function(tolvane_layer folder)
  cmake_parse_arguments(ARG "" "" "USES" ${ARGN})
  set_property(GLOBAL APPEND PROPERTY TOLVANE_LAYERS ${folder})
  set_property(GLOBAL PROPERTY TOLVANE_LAYER_USES_${folder} ${ARG_USES})
endfunction()

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

# Stops the configuration when a Qt-free target links Qt anywhere in its closure, or a
# source file includes a project header from a folder its layer may not use.
function(tolvane_check_layering)
  get_property(kit_targets GLOBAL PROPERTY TOLVANE_KIT_TARGETS)
  get_property(other_targets GLOBAL PROPERTY TOLVANE_QT_FREE_TARGETS)
  foreach(target IN LISTS kit_targets other_targets)
    set(closure "")
    _tolvane_collect_links(${target} closure)
    foreach(dep IN LISTS closure)
      if(dep MATCHES "Qt[0-9]*::|^Qt[0-9]|libQt")
        message(FATAL_ERROR "${target} links ${dep}: everything below the desktop application stays free of Qt")
      endif()
    endforeach()
  endforeach()

  get_property(layers GLOBAL PROPERTY TOLVANE_LAYERS)
  foreach(folder IN LISTS layers)
    get_property(uses GLOBAL PROPERTY TOLVANE_LAYER_USES_${folder})
    file(GLOB sources ${PROJECT_SOURCE_DIR}/${folder}/*.h ${PROJECT_SOURCE_DIR}/${folder}/*.cpp)
    foreach(source IN LISTS sources)
      file(STRINGS ${source} includes REGEX "^#include \"(kit|app|server)/")
      foreach(line IN LISTS includes)
        string(REGEX REPLACE "^#include \"(.*)/[^/]*\".*$" "\\1" used "${line}")
        if(NOT used STREQUAL folder AND NOT used IN_LIST uses)
          file(RELATIVE_PATH name ${PROJECT_SOURCE_DIR} ${source})
          message(FATAL_ERROR "${name} includes from ${used}, which ${folder} may not use (allowed: ${uses})")
        endif()
      endforeach()
    endforeach()
  endforeach()
endfunction()
