# Every dependency comes from a Debian package installed by scripts/install-deps.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(spdlog REQUIRED)
find_package(fmt REQUIRED)
find_package(nlohmann_json 3.10 REQUIRED)
find_package(OpenSSL REQUIRED)
find_package(CURL REQUIRED)
find_package(ICU REQUIRED COMPONENTS uc i18n)
if(TOLVANE_BUILD_TESTS)
  find_package(GTest REQUIRED)
endif()
if(TOLVANE_BUILD_BENCHMARKS)
  find_package(benchmark REQUIRED)
endif()

pkg_check_modules(GIO REQUIRED IMPORTED_TARGET gio-2.0)
pkg_check_modules(LIBSECRET REQUIRED IMPORTED_TARGET libsecret-1)
pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET libavformat libavcodec libavutil libswresample)
pkg_check_modules(CAIRO REQUIRED IMPORTED_TARGET cairo)
pkg_check_modules(SQLITE REQUIRED IMPORTED_TARGET sqlite3)
pkg_check_modules(PULSE REQUIRED IMPORTED_TARGET libpulse)
pkg_check_modules(X11LIBS REQUIRED IMPORTED_TARGET x11 xext xrandr xfixes xcomposite xdamage xrender)
# Tests listen to the X server as another client would, through xcb (no Xlib macros).
pkg_check_modules(XCB REQUIRED IMPORTED_TARGET xcb)

# libyuv ships no CMake or pkg-config file in Debian 12.
find_path(LIBYUV_INCLUDE_DIR libyuv.h REQUIRED)
find_library(LIBYUV_LIBRARY yuv REQUIRED)
add_library(libyuv::libyuv UNKNOWN IMPORTED)
set_target_properties(libyuv::libyuv PROPERTIES
  IMPORTED_LOCATION ${LIBYUV_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${LIBYUV_INCLUDE_DIR})

find_path(HTTPLIB_INCLUDE_DIR httplib.h REQUIRED)
# Debian ships cpp-httplib compiled: the header only declares, libcpp-httplib defines.
find_library(HTTPLIB_LIBRARY cpp-httplib REQUIRED)
add_library(httplib::httplib INTERFACE IMPORTED)
set_target_properties(httplib::httplib PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES ${HTTPLIB_INCLUDE_DIR}
  INTERFACE_LINK_LIBRARIES "${HTTPLIB_LIBRARY};Threads::Threads;OpenSSL::SSL;OpenSSL::Crypto"
  INTERFACE_COMPILE_DEFINITIONS "CPPHTTPLIB_OPENSSL_SUPPORT")

# The desktop application: Qt 6 and QCoro for its coroutines.
if(TOLVANE_BUILD_APP)
  find_package(Qt6 6.4 REQUIRED COMPONENTS Core Concurrent DBus Gui Widgets Qml Quick QuickControls2 Multimedia)
  find_package(QCoro6 REQUIRED COMPONENTS Core)
  # The global shortcuts' grab reads Num Lock's modifier through Xkb (in libX11); the
  # tests press keys through XTest.
  pkg_check_modules(XTST IMPORTED_TARGET xtst)
endif()
