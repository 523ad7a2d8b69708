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

# The Debian package (cpack -G DEB) installs the program folder read-only
# as a template under /usr/lib/ombrix-zudodira; the command
# /usr/bin/ombrix-zudodira gives each user a program folder of their own made
# from it (see packaging/ombrix-zudodira). Its files form the component "deb",
# which only the package installs.
set(oz_template lib/ombrix-zudodira)
install(TARGETS ombrix-zudodira conv RUNTIME DESTINATION ${oz_template} COMPONENT deb EXCLUDE_FROM_ALL)
foreach(size IN ITEMS 160x120 240x180 320x240 640x480)
  install(FILES ${OZ_PROGRAM_FOLDER}/html/flv_player_${size}.swf DESTINATION ${oz_template}/html
          COMPONENT deb EXCLUDE_FROM_ALL)
endforeach()
install(FILES ${oz_ruffle_copies} DESTINATION ${oz_template}/html/ruffle COMPONENT deb EXCLUDE_FROM_ALL)
install(PROGRAMS packaging/ombrix-zudodira DESTINATION bin COMPONENT deb EXCLUDE_FROM_ALL)
install(FILES packaging/ombrix-zudodira.desktop DESTINATION share/applications COMPONENT deb EXCLUDE_FROM_ALL)
install(FILES designs/icon.png DESTINATION share/icons/hicolor/64x64/apps RENAME ombrix-zudodira.png
        COMPONENT deb EXCLUDE_FROM_ALL)
install(FILES packaging/copyright DESTINATION share/doc/ombrix-zudodira COMPONENT deb EXCLUDE_FROM_ALL)
# The package's version, which cpack may be told at packing time, goes into
# the template (the users' folders are brought up to date when it changes)
# and into the changelog; the manual page is compressed as Debian's are.
install(CODE "set(OZ_SOURCE \"${CMAKE_CURRENT_SOURCE_DIR}\")\nset(OZ_VERSION ${PROJECT_VERSION})"
        COMPONENT deb EXCLUDE_FROM_ALL)
install(CODE [[
  set(version "$ENV{OZ_PACKAGE_VERSION}")
  if(version STREQUAL "")
    set(version ${OZ_VERSION})
  endif()
  set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
  file(WRITE "${root}/lib/ombrix-zudodira/version" "${version}\n")
  string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  file(READ "${OZ_SOURCE}/packaging/changelog" changelog)
  string(REPLACE "@VERSION@" "${version}" changelog "${changelog}")
  string(REPLACE "@DATE@" "${date}" changelog "${changelog}")
  file(MAKE_DIRECTORY "${root}/share/doc/ombrix-zudodira" "${root}/share/man/man1")
  file(WRITE "${root}/share/doc/ombrix-zudodira/changelog" "${changelog}")
  file(COPY_FILE "${OZ_SOURCE}/packaging/ombrix-zudodira.1" "${root}/share/man/man1/ombrix-zudodira.1")
  foreach(file IN ITEMS share/doc/ombrix-zudodira/changelog share/man/man1/ombrix-zudodira.1)
    execute_process(COMMAND gzip -9nf "${root}/${file}" COMMAND_ERROR_IS_FATAL ANY)
  endforeach()
]] COMPONENT deb EXCLUDE_FROM_ALL)

# cpack: a .tar.gz of the program folder (the default), or the Debian
# package (-G DEB).
set(CPACK_GENERATOR TGZ)
set(CPACK_PACKAGE_NAME ombrix-zudodira)
set(CPACK_PACKAGE_VENDOR "Ombrix Zudodira")
set(CPACK_PACKAGE_CONTACT "Ombrix Zudodira maintainers <maintainers@users.noreply.c-seed-78dae932.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Puts a video clip on a web page with an FLV player")
set(CPACK_PACKAGE_DESCRIPTION [[
Ombrix Zudodira is a small desktop wizard that puts a video clip on a web
page. Pick a video and it is converted (with ffmpeg) into an FLV clip; then
choose the player's size, buffer time, button colour, automatic start and
link, and the program writes a page that embeds an FLV player movie with
those settings. The page plays in today's browsers through Ruffle, the
open-source Flash runtime, which comes with the program; a preview serves
the page to this computer's browser.
.
Each user gets a program folder of their own in ~/.local/share, where the
clips and the page are kept.]])
set(CPACK_PACKAGE_FILE_NAME "ombrix-zudodira-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR}")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(OZ_HOMEPAGE "https://ombrix-zudodira.example/" CACHE STRING "The program's home page, named in the package")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${OZ_HOMEPAGE})
# The libraries' packages come from the binaries; what the program and conv
# start at run time is named here: ffmpeg converts, xdg-utils opens folders
# and pages.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "ffmpeg, xdg-utils")
# QtKeychain loads libsecret only when it reaches for the desktop's keyring.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libsecret-1-0")
# Which files each kind of package takes, and the version the package's
# install code writes (cpack may be given another at packing time).
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/CPackChoices.cmake)
include(CPack)
