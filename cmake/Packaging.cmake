# What `cmake --install` puts on a system, and the Debian package CPack makes
# of it (scripts/package.sh). Configure with -DCMAKE_INSTALL_PREFIX=/usr for
# the package, so the private library folder is the multiarch one.
if(NOT TARGET stereo)
  return()
endif()

set(STEREO_PACKAGE_NAME stereo-workbench)
set(STEREO_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/${STEREO_PACKAGE_NAME})
# The project has no web address yet: these stand in, in the reserved
# .invalid domain, until it has one.
set(STEREO_APPSTREAM_ID "invalid.stereo_workbench.StereoWorkbench" CACHE STRING "AppStream component id")
set(STEREO_SCREENSHOT_URL "https://stereo-workbench.invalid/screenshots/main.png" CACHE STRING
    "Web address of the screenshot in the AppStream metadata")
# The maintainer of a package built from a commit is that commit's author,
# unless told otherwise.
if(NOT STEREO_PACKAGE_MAINTAINER AND GIT_FOUND AND EXISTS ${PROJECT_SOURCE_DIR}/.git)
  execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%an\ <%ae>
                  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE author
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  set(STEREO_PACKAGE_MAINTAINER "${author}")
endif()
if(NOT STEREO_PACKAGE_MAINTAINER)
  set(STEREO_PACKAGE_MAINTAINER "Stereo workbench developers <stereo-workbench@users.noreply.invalid>")
endif()

install(TARGETS stereo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Loaded with dlopen only, so not executable, as Debian keeps shared objects.
install(TARGETS uEye_api falcon LIBRARY DESTINATION ${STEREO_PRIVATE_LIBRARY_DIR}
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

set(packaging ${PROJECT_SOURCE_DIR}/packaging)
set(generated ${PROJECT_BINARY_DIR}/packaging)
install(FILES ${packaging}/stereo-workbench.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${packaging}/stereo-workbench.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${packaging}/stereo-workbench.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)

string(TIMESTAMP STEREO_RELEASE_DATE "%Y-%m-%d" UTC)
configure_file(${packaging}/metainfo.xml.in ${generated}/${STEREO_APPSTREAM_ID}.metainfo.xml @ONLY)
install(FILES ${generated}/${STEREO_APPSTREAM_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${packaging}/copyright DESTINATION ${STEREO_DOC_DIR})
add_custom_command(
  OUTPUT ${generated}/changelog.gz
  COMMAND ${packaging}/changelog.sh ${STEREO_VERSION} "${STEREO_PACKAGE_MAINTAINER}" ${generated}/changelog.gz
  DEPENDS ${packaging}/changelog.sh ${generated}/${STEREO_APPSTREAM_ID}.metainfo.xml
  COMMENT "Writing the package's changelog"
  VERBATIM)
add_custom_target(stereo_changelog ALL DEPENDS ${generated}/changelog.gz)
install(FILES ${generated}/changelog.gz DESTINATION ${STEREO_DOC_DIR})

# The manual page is the program's own --help, run without a display.
find_program(HELP2MAN help2man)
if(HELP2MAN)
  add_custom_command(
    OUTPUT ${generated}/stereo.1.gz
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ${HELP2MAN} --no-info --section=1
            "--name=stereo camera workbench" --output=${generated}/stereo.1 $<TARGET_FILE:stereo>
    COMMAND gzip -9nf ${generated}/stereo.1
    DEPENDS stereo
    COMMENT "Writing the manual page from stereo --help"
    VERBATIM)
  add_custom_target(stereo_manual ALL DEPENDS ${generated}/stereo.1.gz)
  install(FILES ${generated}/stereo.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "help2man not found: no manual page (scripts/setup.sh installs it)")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${STEREO_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${STEREO_VERSION})
set(CPACK_PACKAGE_CONTACT "${STEREO_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${STEREO_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "workbench for a stereo pair of video cameras")
# CPack puts the summary first and indents these lines itself.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Picks a left and a right frame source (USB cameras of a rig, a frame-grabber
board or a system video capture device), pairs their frames and shows them
side by side. Pairs run through a chain of stereo filters, the cameras are
calibrated and rectified from views of a chessboard, and pairs are recorded
to and played back from AVI files.

Stand-in driver libraries simulate a stereo rig and a frame grabber, so the
workbench runs without camera hardware; real driver libraries installed on
the system are used before them.")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The capture pipeline's elements are plugins that GStreamer loads at run
# time, which no look at the binaries finds; so is the OpenGL driver that
# draws the 3D view (Mesa's, software where no graphics card has one).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, libgl1-mesa-dri")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
include(CPack)
