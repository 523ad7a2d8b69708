# Each floor of the program is a static library, and what may include what
# follows from what links what: a floor's folder is reachable by its own
# name only from the floor itself and from the targets that link it. The
# floor's include folder in the build tree holds a single link, named after
# the source folder, to that folder; the source root itself is on no include
# path. So `#include "app/winapp.h"` builds in app/ and in what links oz_app,
# and fails in player/: nothing player/ links has an app/ to offer.
#
# oz_floor_library(TARGET FOLDER source...)
function(oz_floor_library target folder)
  add_library(${target} STATIC ${ARGN})
  set(root ${PROJECT_BINARY_DIR}/floors/${folder})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  target_include_directories(${target} PUBLIC ${root})
endfunction()
