# Ruffle, the Flash runtime that plays the player movies in today's browsers,
# goes into the program folder as html/ruffle/, so the page plays from there
# and from any web site html/ is uploaded to. tools/ensure-ruffle fetches the
# npm package once into the user's cache (nothing when it is there); the
# build only copies the files a browser loads and the two licences.
set(OZ_RUFFLE_VERSION 0.6.0)
if(DEFINED ENV{XDG_CACHE_HOME})
  set(oz_cache $ENV{XDG_CACHE_HOME})
else()
  set(oz_cache $ENV{HOME}/.cache)
endif()
set(OZ_RUFFLE_PACKAGE ${oz_cache}/ombrix-zudodira/ruffle-${OZ_RUFFLE_VERSION}/node_modules/@ruffle-rs/ruffle
    CACHE PATH "The @ruffle-rs/ruffle npm package the build copies into html/ruffle/")

if(NOT EXISTS ${OZ_RUFFLE_PACKAGE}/ruffle.js)
  execute_process(COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/tools/ensure-ruffle RESULT_VARIABLE fetched)
  if(NOT fetched EQUAL 0 OR NOT EXISTS ${OZ_RUFFLE_PACKAGE}/ruffle.js)
    message(FATAL_ERROR "Ruffle ${OZ_RUFFLE_VERSION} is missing from ${OZ_RUFFLE_PACKAGE}: "
                        "run tools/ensure-ruffle (it needs npm and the network once)")
  endif()
endif()

# The script loads its chunks and wasm modules by their hashed names.
file(GLOB oz_ruffle_files LIST_DIRECTORIES false
  ${OZ_RUFFLE_PACKAGE}/ruffle.js ${OZ_RUFFLE_PACKAGE}/core.ruffle.*.js ${OZ_RUFFLE_PACKAGE}/*.wasm
  ${OZ_RUFFLE_PACKAGE}/LICENSE_MIT ${OZ_RUFFLE_PACKAGE}/LICENSE_APACHE)
set(OZ_RUFFLE_FOLDER ${OZ_PROGRAM_FOLDER}/html/ruffle)
set(oz_ruffle_copies)
foreach(file IN LISTS oz_ruffle_files)
  get_filename_component(name ${file} NAME)
  list(APPEND oz_ruffle_copies ${OZ_RUFFLE_FOLDER}/${name})
endforeach()
add_custom_command(
  OUTPUT ${oz_ruffle_copies}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${OZ_RUFFLE_FOLDER}
  COMMAND ${CMAKE_COMMAND} -E copy ${oz_ruffle_files} ${OZ_RUFFLE_FOLDER}
  DEPENDS ${oz_ruffle_files}
  COMMENT "Copying Ruffle ${OZ_RUFFLE_VERSION} into html/ruffle/"
  VERBATIM)
add_custom_target(ruffle ALL DEPENDS ${oz_ruffle_copies})
install(FILES ${oz_ruffle_copies} DESTINATION html/ruffle)
