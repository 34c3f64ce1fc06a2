# Installs the build three ways and checks what lands where: each package's component
# alone with prefix /usr under DESTDIR (as CPack stages the .debs), and everything into a
# plain prefix (as `cmake --install --prefix` does). Exact file lists, so a file missing
# from a package or landing in the other one fails; and the files that name installed
# programs must name them at the prefix installed to, not the configured one.
#   cmake -DSOURCE_DIR=... -DBUILD_DIR=... -DWORK_DIR=... -P install_tree_test.cmake
cmake_minimum_required(VERSION 3.25)

set(id com.tolvanelabs.Tolvane)
set(app_files usr/bin/tolvane usr/bin/tolvane-cli usr/share/applications/${id}.desktop
  usr/share/dbus-1/services/${id}.service usr/share/metainfo/${id}.metainfo.xml
  usr/share/icons/hicolor/scalable/apps/${id}.svg
  usr/share/doc/tolvane/copyright usr/share/doc/tolvane/changelog.gz
  usr/share/man/man1/tolvane.1.gz usr/share/man/man1/tolvane-cli.1.gz)
foreach(size IN ITEMS 16 32 48 64 128 256)
  list(APPEND app_files usr/share/icons/hicolor/${size}x${size}/apps/${id}.png)
endforeach()
set(server_files usr/bin/tolvane-server lib/systemd/system/tolvane-server.service etc/default/tolvane-server
  usr/share/doc/tolvane-server/copyright usr/share/doc/tolvane-server/changelog.gz
  usr/share/man/man1/tolvane-server.1.gz)
set(packages tolvane tolvane-server)
set(package_lists app_files server_files)
foreach(package files IN ZIP_LISTS packages package_lists)
  if(EXISTS ${SOURCE_DIR}/data/debian/${package}.lintian-overrides)
    list(APPEND ${files} usr/share/lintian/overrides/${package})
  endif()
endforeach()

function(fail message)
  message(SEND_ERROR "${message}")
endfunction()

function(install_into root prefix component)
  if(root)
    file(REMOVE_RECURSE ${root})
  else()
    file(REMOVE_RECURSE ${prefix})
  endif()
  set(args --install ${BUILD_DIR} --prefix ${prefix})
  if(component)
    list(APPEND args --component ${component})
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${root} ${CMAKE_COMMAND} ${args}
    RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE error)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake ${args} failed: ${error}")
  endif()
endfunction()

function(expect_files root expected)
  file(GLOB_RECURSE found LIST_DIRECTORIES false RELATIVE ${root} ${root}/*)
  list(SORT found)
  list(SORT expected)
  if(NOT found STREQUAL expected)
    set(missing ${expected})
    list(REMOVE_ITEM missing ${found})
    set(extra ${found})
    list(REMOVE_ITEM extra ${expected})
    fail("${root}: missing [${missing}], unexpected [${extra}]")
  endif()
endfunction()

function(expect_line file line)
  file(STRINGS ${file} lines REGEX "^${line}$")
  if(NOT lines)
    fail("${file} has no line \"${line}\"")
  endif()
endfunction()

set(staged ${WORK_DIR}/staged)
install_into(${staged}/server /usr server)
expect_files(${staged}/server "${server_files}")
expect_line(${staged}/server/lib/systemd/system/tolvane-server.service
  "ExecStart=/usr/bin/tolvane-server --data /var/lib/tolvane-server \\$TOLVANE_SERVER_OPTIONS")

install_into(${staged}/app /usr app)
expect_files(${staged}/app "${app_files}")
expect_line(${staged}/app/usr/share/dbus-1/services/${id}.service "Exec=/usr/bin/tolvane")

# Anywhere but /usr, the system folders stay under the prefix too.
set(prefix ${WORK_DIR}/prefix)
install_into("" ${prefix} "")
string(REGEX REPLACE "(^|;)usr/" "\\1" expected "${app_files};${server_files}")
expect_files(${prefix} "${expected}")
expect_line(${prefix}/share/dbus-1/services/${id}.service "Exec=${prefix}/bin/tolvane")
find_program(systemd_analyze systemd-analyze)
if(systemd_analyze)
  # Judges the unit's directives; the program it names exists under this prefix, its
  # manual page is not installed on this system.
  execute_process(COMMAND ${systemd_analyze} verify --man=no ${prefix}/lib/systemd/system/tolvane-server.service
    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT result EQUAL 0 OR out)
    fail("systemd-analyze verify: ${out}")
  endif()
endif()
