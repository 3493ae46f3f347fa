# Removes what `make install` put in place, as listed in the build folder's
# install_manifest.txt (paths without DESTDIR, which is taken from the
# environment as at install), then the folders of our own share folder that
# are left empty.
# Usage: DESTDIR=... cmake -DMANIFEST=build/install_manifest.txt -P tools/uninstall.cmake
cmake_policy(SET CMP0007 NEW)
if(NOT MANIFEST OR NOT EXISTS "${MANIFEST}")
  message(FATAL_ERROR "no ${MANIFEST}: nothing was installed from this build folder")
endif()
file(STRINGS "${MANIFEST}" files)
set(folders "")
foreach(installed ${files})
  set(file "$ENV{DESTDIR}${installed}")
  if(EXISTS "${file}" OR IS_SYMLINK "${file}")
    message(STATUS "Removing: ${file}")
    file(REMOVE "${file}")
  endif()
  # Folders below share/vornatracker are ours alone; bin, man1 and the like are shared.
  if(file MATCHES "^(.*/share/vornatracker)/")
    set(share "${CMAKE_MATCH_1}")
    get_filename_component(folder "${file}" DIRECTORY)
    while(NOT folder STREQUAL share)
      list(APPEND folders "${folder}")
      get_filename_component(folder "${folder}" DIRECTORY)
    endwhile()
    list(APPEND folders "${share}")
  endif()
endforeach()
list(REMOVE_DUPLICATES folders)
# Deepest first, so each folder is empty by the time its turn comes.
list(SORT folders ORDER DESCENDING)
foreach(folder ${folders})
  file(GLOB left "${folder}/*" "${folder}/.*")
  if(IS_DIRECTORY "${folder}" AND NOT left)
    file(REMOVE_RECURSE "${folder}")
  endif()
endforeach()
