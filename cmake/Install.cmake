# Installing lays out the program folder as the build folder holds it: the
# prefix is the program folder, with the program, conv and html/ (html/flvs/
# for the clips, the page beside the player movies, Ruffle in html/ruffle/,
# see Ruffle.cmake) side by side. The
# program finds everything from its own path and links only system
# libraries, so the folder runs from wherever it is copied.
#
# The program writes its clips and page into its own folder, so the folder
# must be the user's to write: by default it goes to ~/ombrix-zudodira.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT AND DEFINED ENV{HOME})
  set(CMAKE_INSTALL_PREFIX "$ENV{HOME}/ombrix-zudodira" CACHE PATH "Program folder to install into" FORCE)
endif()
set(CMAKE_SKIP_INSTALL_RPATH ON)

install(TARGETS ombrix-zudodira conv RUNTIME DESTINATION .)
install(DIRECTORY DESTINATION html/flvs)
install(PROGRAMS app/add-to-menu DESTINATION .)
install(FILES designs/icon.png DESTINATION share/icons/hicolor/64x64/apps RENAME ombrix-zudodira.png)

# The desktop entry names the program by its absolute path, as entries must,
# so it is written for the folder's final place. An archive's folder has no
# final place yet: there add-to-menu writes the entry once it is unpacked.
install(CODE [[
  if(NOT CMAKE_INSTALL_PREFIX MATCHES "/_CPack_Packages/")
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env "OZ_PROGRAM_FOLDER=${CMAKE_INSTALL_PREFIX}"
              sh "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/add-to-menu"
              "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/share/applications"
      OUTPUT_QUIET
      COMMAND_ERROR_IS_FATAL ANY)
    message(STATUS "Installing: $ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/share/applications/ombrix-zudodira.desktop")
  endif()
]])

# cpack: a .tar.gz of the program folder.
set(CPACK_GENERATOR TGZ)
set(CPACK_PACKAGE_NAME ombrix-zudodira)
set(CPACK_PACKAGE_VENDOR "Ombrix Zudodira")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Puts a video clip on a web page with an FLV player")
set(CPACK_PACKAGE_FILE_NAME "ombrix-zudodira-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR}")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
