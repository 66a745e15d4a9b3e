# The build manifest (see WriteBuildManifest.cmake), in the build tree and in
# every installed tree. Targets that put files under lib/quillo, libexec/quillo
# or share/quillo register with quillo_ship() so that the manifest is written
# after them.
include_guard(GLOBAL)

function(quillo_ship)
  set_property(GLOBAL APPEND PROPERTY QUILLO_SHIPPED_TARGETS ${ARGN})
endfunction()

function(_quillo_add_build_manifest)
  set(script "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/WriteBuildManifest.cmake")
  add_custom_target(quillo-build-manifest ALL
    COMMAND ${CMAKE_COMMAND} -DQUILLO_MANIFEST_ROOT=${PROJECT_BINARY_DIR}
            -P ${script}
    COMMENT "Writing the build manifest"
    VERBATIM)
  get_property(shipped GLOBAL PROPERTY QUILLO_SHIPPED_TARGETS)
  if(shipped)
    add_dependencies(quillo-build-manifest ${shipped})
  endif()
  # Last install step: everything else is in place by then.
  install(CODE "execute_process(COMMAND \"${CMAKE_COMMAND}\"
    \"-DQUILLO_MANIFEST_ROOT=\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\"
    -P \"${script}\" COMMAND_ERROR_IS_FATAL ANY)")
endfunction()

# At the end of the top-level directory, once every target has registered.
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL _quillo_add_build_manifest)
