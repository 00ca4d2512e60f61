# Every dependency comes from a Debian package; scripts/install-deps.sh installs them.
find_package(Threads REQUIRED)
find_package(Eigen3 3.4 REQUIRED NO_MODULE)
find_package(fmt 9 REQUIRED)
find_package(Qt5 5.15 REQUIRED COMPONENTS Core Gui)
find_package(Boost 1.74 REQUIRED)
if(CORVEXIS_BUILD_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
if(CORVEXIS_BUILD_BENCHMARKS)
  find_package(benchmark REQUIRED)
endif()
# OpenIGTLink (Debian's libopenigtlink-dev, library 1.11, protocol 2). Only its headers and library are
# used: the package's own compile flags are not applied to our targets, and its headers come in as
# system headers so that our warnings stay errors for our code only.
find_path(OPENIGTLINK_INCLUDE_DIR igtlMessageBase.h PATHS /usr/include/openigtlink REQUIRED)
find_library(OPENIGTLINK_LIBRARY OpenIGTLink REQUIRED)
add_library(Corvexis_OpenIGTLink INTERFACE IMPORTED GLOBAL)
target_include_directories(Corvexis_OpenIGTLink SYSTEM INTERFACE ${OPENIGTLINK_INCLUDE_DIR})
target_link_libraries(Corvexis_OpenIGTLink INTERFACE ${OPENIGTLINK_LIBRARY} Threads::Threads)
add_library(Corvexis::OpenIGTLink ALIAS Corvexis_OpenIGTLink)
# Video files and video coding: Debian's FFmpeg libraries.
find_package(PkgConfig REQUIRED)
pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET libavcodec libavformat libavutil libswscale)
# Cameras: Video4Linux2 through libv4l2, which also converts the cameras' pixel formats to RGB.
pkg_check_modules(V4L2 REQUIRED IMPORTED_TARGET libv4l2)
# Data files: zstd compresses live image frames, DCMTK writes and reads DICOM.
pkg_check_modules(ZSTD REQUIRED IMPORTED_TARGET libzstd)
find_package(DCMTK REQUIRED CONFIG)
set(CORVEXIS_DCMTK_LIBS DCMTK::dcmdata DCMTK::ofstd DCMTK::oflog)
