# Writes share/quillo/build-manifest under an install root: one line per
# shipped file other than the executable and the manifest itself, "<sha256>
# <relative path>", sorted by path. The build fingerprint hashes this list
# after the executable, so changing any shipped file changes the fingerprint.
#
#   cmake -DQUILLO_MANIFEST_ROOT=<root> -P WriteBuildManifest.cmake
cmake_minimum_required(VERSION 3.25)

if(NOT QUILLO_MANIFEST_ROOT)
  message(FATAL_ERROR "QUILLO_MANIFEST_ROOT is not set")
endif()
set(root "${QUILLO_MANIFEST_ROOT}")
set(manifest "share/quillo/build-manifest")

file(GLOB_RECURSE shipped RELATIVE "${root}" LIST_DIRECTORIES false
     "${root}/lib/quillo/*" "${root}/libexec/quillo/*" "${root}/share/quillo/*")
list(REMOVE_ITEM shipped "${manifest}" "${manifest}.new")
list(SORT shipped)

set(lines "")
foreach(path IN LISTS shipped)
  file(SHA256 "${root}/${path}" digest)
  string(APPEND lines "${digest}  ${path}\n")
endforeach()

# Rewritten only when it changes, so an unchanged build keeps its timestamps.
file(WRITE "${root}/${manifest}.new" "${lines}")
file(COPY_FILE "${root}/${manifest}.new" "${root}/${manifest}" ONLY_IF_DIFFERENT)
file(REMOVE "${root}/${manifest}.new")
