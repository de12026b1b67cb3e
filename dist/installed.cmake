# Runs after every install (cmake --install, CPack), in every component, on
# the ELF files installed so far: they lose the RUNPATH that finds the
# platform's libraries in the build tree, and where stripping is asked for
# (CPack, --strip) they are stripped as dh_strip does, without the .comment
# and .note sections that a plain strip leaves.
foreach(file IN LISTS CMAKE_INSTALL_MANIFEST_FILES)
  set(path "$ENV{DESTDIR}${file}")
  if(IS_SYMLINK "${path}" OR NOT EXISTS "${path}")
    continue()
  endif()
  file(READ "${path}" magic LIMIT 4 HEX)
  if(NOT magic STREQUAL "7f454c46")
    continue()
  endif()
  file(RPATH_REMOVE FILE "${path}")
  if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND "${ROLVANE_STRIP}" --remove-section=.comment --remove-section=.note "${path}"
      COMMAND_ERROR_IS_FATAL ANY)
  endif()
endforeach()
