# Debian packages, made with CPack from the install rules (data/CMakeLists.txt): one
# package per install component.
#
#   tolvane          the desktop application, tolvane-cli and the desktop's files
#   tolvane-server   the server and its systemd unit
#
# scripts/package builds them and has lintian judge them. The version is the project's;
# the packages carry no Debian revision, as nobody but us packages this code.
include(GNUInstallDirs)

set(TOLVANE_PACKAGE_MAINTAINER "Tolvane Labs <packages@tolvane.example>")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tolvane)
set(CPACK_PACKAGE_VENDOR "Tolvane Labs")
set(CPACK_PACKAGE_CONTACT ${TOLVANE_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_THREADS 0)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL server)
if(TOLVANE_BUILD_APP)
  list(PREPEND CPACK_COMPONENTS_ALL app)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TOLVANE_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${TOLVANE_SITE_URL})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# Library dependencies come from dpkg-shlibdeps; the lists below add what it cannot see
# because it is loaded at run time, not linked.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_APP_PACKAGE_NAME tolvane)
set(CPACK_DEBIAN_APP_PACKAGE_SECTION video)
set(CPACK_DEBIAN_APP_DESCRIPTION "screen recorder that shares a link
Tolvane records the whole screen or one window, with the microphone, the
computer's own sound and a round camera bubble, lets you draw on the screen
while recording, and uploads the finished recording in the background to your
web library, copying its share link to the clipboard.

This package holds the desktop application (tray item, main window, global
shortcut Ctrl+Alt+R) and tolvane-cli, its command-line counterpart.")
# The QML modules the views import, the X11 platform plugin Qt opens its windows with,
# and the video player's QML module.
set(_tolvane_app_depends
  qt6-qpa-plugins
  qml6-module-qtqml
  qml6-module-qtqml-workerscript
  qml6-module-qtquick
  qml6-module-qtquick-controls
  qml6-module-qtquick-layouts
  qml6-module-qtquick-templates
  qml6-module-qtquick-window
  qml6-module-qtquick-shapes
  qml6-module-qtmultimedia)
# The player's codecs, the keyring that keeps the session, the password prompt updates
# install through, and the browser opener for sign-in and share links: the application
# runs without each, losing only that one thing.
set(_tolvane_app_recommends
  gstreamer1.0-plugins-good
  gstreamer1.0-libav
  gnome-keyring
  pkexec
  xdg-utils)
list(JOIN _tolvane_app_depends ", " CPACK_DEBIAN_APP_PACKAGE_DEPENDS)
list(JOIN _tolvane_app_recommends ", " CPACK_DEBIAN_APP_PACKAGE_RECOMMENDS)

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME tolvane-server)
set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION web)
set(CPACK_DEBIAN_SERVER_DESCRIPTION "self-hosted server for Tolvane recordings
tolvane-server keeps the recordings of a person or a small team on their own
machine: it takes resumable uploads from the Tolvane desktop application,
signs the application in, serves the library and share-link pages, and
publishes the signed update feed.

It runs as the systemd service tolvane-server under a user of its own, with
its data in /var/lib/tolvane-server and its options in
/etc/default/tolvane-server.")
# postinst creates the service's user.
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS adduser)
set(_tolvane_server_scripts ${PROJECT_SOURCE_DIR}/data/debian/server)
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
  ${_tolvane_server_scripts}/postinst
  ${_tolvane_server_scripts}/prerm
  ${_tolvane_server_scripts}/postrm
  ${_tolvane_server_scripts}/conffiles)

# Every package carries its copyright file and a changelog where Debian keeps them.
string(TIMESTAMP TOLVANE_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(TOLVANE_HOMEPAGE ${TOLVANE_SITE_URL})
foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  string(TOUPPER ${component} upper)
  set(TOLVANE_DEB_PACKAGE ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
  set(doc ${PROJECT_BINARY_DIR}/packaging/${TOLVANE_DEB_PACKAGE})
  configure_file(${PROJECT_SOURCE_DIR}/data/debian/copyright ${doc}/copyright @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/data/debian/changelog.in ${doc}/changelog @ONLY)
  # -n leaves the time stamp out, so the same changelog compresses to the same bytes.
  execute_process(COMMAND gzip -9nf ${doc}/changelog RESULT_VARIABLE gzip_result)
  if(NOT gzip_result EQUAL 0)
    message(FATAL_ERROR "gzip failed on ${doc}/changelog")
  endif()
  install(FILES ${doc}/copyright ${doc}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${TOLVANE_DEB_PACKAGE} COMPONENT ${component})
  set(overrides ${PROJECT_SOURCE_DIR}/data/debian/${TOLVANE_DEB_PACKAGE}.lintian-overrides)
  if(EXISTS ${overrides})
    install(FILES ${overrides} RENAME ${TOLVANE_DEB_PACKAGE}
      DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides COMPONENT ${component})
  endif()
endforeach()

include(CPack)
