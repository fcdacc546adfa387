# The workbench's version: the project's own, plus the commit it is built from
# (commits counted, short id), so every package version differs and sorts.
set(STEREO_VERSION ${PROJECT_VERSION})
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS ${PROJECT_SOURCE_DIR}/.git)
  execute_process(COMMAND ${GIT_EXECUTABLE} rev-list --count HEAD
                  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE commits
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE counted)
  execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --short=8 HEAD
                  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE commit
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE named)
  if(counted EQUAL 0 AND named EQUAL 0)
    set(STEREO_VERSION "${PROJECT_VERSION}+git${commits}.${commit}")
  endif()
endif()
