# Builds the Debian package of BUILD_DIR into a fresh OUT and checks what it
# holds: the program, the libraries, public headers only, the CMake package, the
# pkg-config files, and its name, version and run-time dependencies.
file(REMOVE_RECURSE ${OUT})
execute_process(COMMAND ${CPACK} -G DEB -B ${OUT} --config ${BUILD_DIR}/CPackConfig.cmake
                COMMAND_ERROR_IS_FATAL ANY)
file(GLOB deb ${OUT}/*.deb)
list(LENGTH deb count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one .deb in ${OUT}, found: ${deb}")
endif()

execute_process(COMMAND dpkg-deb --contents ${deb} OUTPUT_VARIABLE contents COMMAND_ERROR_IS_FATAL ANY)
set(expected
  bin/eegfile
  include/EegFile/frame/EegFile.h include/EegFile/winfile/WinEegFile.h
  include/EegFile/dos/DosEegFile.h include/EegFile/export/EdfExport.h
  include/Platform/String.h include/EegBase/PatientInfo.h)
foreach(lib EegFilePlatform EegBase EegFileCore EegFileDos EegFile EegFileExport)
  list(APPEND expected ${LIBDIR}/lib${lib}.a)
endforeach()
foreach(f EegFileConfig.cmake EegFileConfigVersion.cmake EegFileTargets.cmake
          EegFileExportTargets.cmake FindEDFlib.cmake)
  list(APPEND expected ${LIBDIR}/cmake/EegFile/${f})
endforeach()
list(APPEND expected ${LIBDIR}/pkgconfig/eegfile.pc ${LIBDIR}/pkgconfig/eegfile-export.pc)
foreach(path ${expected})
  string(FIND "${contents}" " ./usr/${path}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${deb} lacks /usr/${path}:\n${contents}")
  endif()
endforeach()
# Headers of the tests and tools stay out.
string(REGEX MATCHALL "[^ \n]+\\.h\n" headers "${contents}")
foreach(h ${headers})
  if(NOT h MATCHES "^\\./usr/include/(Platform|EegBase|EegFile)/")
    message(FATAL_ERROR "${deb} holds a header that is not the library's: ${h}")
  endif()
endforeach()

execute_process(COMMAND dpkg-deb --field ${deb} Package Version Depends
                OUTPUT_VARIABLE fields COMMAND_ERROR_IS_FATAL ANY)
foreach(field "Package: eegfile\n" "Version: ${VERSION}\n" libodbc2 libodbcinst2 libsqliteodbc
              libedf1 libcairo2)
  string(FIND "${fields}" "${field}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${deb}'s control fields lack ${field}:\n${fields}")
  endif()
endforeach()
message(STATUS "${deb}: contents and control fields as expected")
