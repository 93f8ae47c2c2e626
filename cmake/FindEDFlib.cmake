# Finds EDFlib (Debian: libedf-dev), which ships neither a CMake package nor a
# pkg-config file, as the imported target EDFlib::EDFlib. The build uses it, and
# it is installed beside EegFileConfig.cmake so that a consumer of EegFile::Export
# finds the library the same way.
find_path(EDFLIB_INCLUDE_DIR edflib.h)
find_library(EDFLIB_LIBRARY edf)
mark_as_advanced(EDFLIB_INCLUDE_DIR EDFLIB_LIBRARY)

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(EDFlib REQUIRED_VARS EDFLIB_LIBRARY EDFLIB_INCLUDE_DIR)

if(EDFlib_FOUND AND NOT TARGET EDFlib::EDFlib)
  add_library(EDFlib::EDFlib UNKNOWN IMPORTED)
  set_target_properties(EDFlib::EDFlib PROPERTIES
    IMPORTED_LOCATION "${EDFLIB_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${EDFLIB_INCLUDE_DIR}")
endif()
