# The app layer's rooms: each names the project folders its sources may
# include, and the build fails on any other, so a dependency the wrong way
# (the launcher reaching for the tray application, a painted control reaching
# for the settings form) cannot creep in. Qt is kept out by not linking it.
include_guard(GLOBAL)

set(_quillo_room_script "${CMAKE_CURRENT_LIST_DIR}/CheckRoomIncludes.cmake")

# quillo_room(target MAY_INCLUDE prefix...): the target's own folder is always allowed.
function(quillo_room target)
  cmake_parse_arguments(PARSE_ARGV 1 room "" "" "MAY_INCLUDE")
  file(RELATIVE_PATH own "${PROJECT_SOURCE_DIR}" "${CMAKE_CURRENT_SOURCE_DIR}")
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp"
       "${CMAKE_CURRENT_SOURCE_DIR}/*.h")
  set(stamp "${CMAKE_CURRENT_BINARY_DIR}/${target}.includes-checked")
  string(REPLACE ";" "|" allowed "${own}/;${room_MAY_INCLUDE}")
  string(REPLACE ";" "|" files "${sources}")
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} "-DROOM=${own}" "-DALLOWED=${allowed}" "-DFILES=${files}"
            "-DSTAMP=${stamp}" -P ${_quillo_room_script}
    DEPENDS ${sources} ${_quillo_room_script}
    COMMENT "Checking what ${own} includes"
    VERBATIM)
  add_custom_target(${target}_includes DEPENDS ${stamp})
  add_dependencies(${target} ${target}_includes)
endfunction()
