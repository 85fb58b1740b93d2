# Finds OpenVDB's library and headers, and TBB and Imath, on which both
# depend (Imath's half type for float grids), and makes OpenVDB::openvdb. OpenVDB's own find module stops the configure when
# Boost.Iostreams is missing, which only its file I/O needs, so an optional
# library could fail the whole build; this one only reports OpenVDB_FOUND.
find_path(OpenVDB_INCLUDE_DIR openvdb/openvdb.h)
find_library(OpenVDB_LIBRARY openvdb)
find_package(TBB CONFIG QUIET)
find_package(Imath CONFIG QUIET)
if(OpenVDB_INCLUDE_DIR AND EXISTS "${OpenVDB_INCLUDE_DIR}/openvdb/version.h")
  file(STRINGS "${OpenVDB_INCLUDE_DIR}/openvdb/version.h" _vdb_version
       REGEX "^#define OPENVDB_LIBRARY_(MAJOR|MINOR|PATCH)_VERSION_NUMBER [0-9]+")
  string(REGEX REPLACE ".*MAJOR_VERSION_NUMBER ([0-9]+).*MINOR_VERSION_NUMBER ([0-9]+).*PATCH_VERSION_NUMBER ([0-9]+).*"
         "\\1.\\2.\\3" OpenVDB_VERSION "${_vdb_version}")
endif()
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(OpenVDB
  REQUIRED_VARS OpenVDB_LIBRARY OpenVDB_INCLUDE_DIR TBB_FOUND Imath_FOUND VERSION_VAR OpenVDB_VERSION)
if(OpenVDB_FOUND AND NOT TARGET OpenVDB::openvdb)
  add_library(OpenVDB::openvdb UNKNOWN IMPORTED)
  set_target_properties(OpenVDB::openvdb PROPERTIES
    IMPORTED_LOCATION "${OpenVDB_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${OpenVDB_INCLUDE_DIR}"
    INTERFACE_LINK_LIBRARIES "TBB::tbb;Imath::Imath")
endif()
