# Run by cpack once it has staged the files, before it packs them: with
# SOURCE_DATE_EPOCH set, every staged file and folder takes that time, since
# a .zip keeps its files' times.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  file(GLOB_RECURSE staged LIST_DIRECTORIES true "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
  if(staged)
    execute_process(COMMAND touch -h -d @$ENV{SOURCE_DATE_EPOCH} ${staged} COMMAND_ERROR_IS_FATAL ANY)
  endif()
endif()
