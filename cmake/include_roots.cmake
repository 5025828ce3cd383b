# Each library includes by paths from the top of the tree ("platform/wnd.h"), but sees only
# its own folders or headers and those of the libraries it links. Its include root is a folder
# of links to them alone, made at configure time, so an include that runs upward, or sideways
# into a library it does not use, does not resolve and fails to build.
#
#   varnek_include_root(<target> <PUBLIC|INTERFACE> [FOLDERS <folder>...] [FILES <header>...])

function(varnek_include_root target scope)
  cmake_parse_arguments(PARSE_ARGV 2 ROOT "" "" "FOLDERS;FILES")
  set(root ${CMAKE_BINARY_DIR}/include_roots/${target})
  file(REMOVE_RECURSE ${root})
  foreach(path IN LISTS ROOT_FOLDERS ROOT_FILES)
    get_filename_component(parent ${root}/${path} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${path} ${root}/${path} SYMBOLIC)
  endforeach()
  target_include_directories(${target} ${scope} ${root})
endfunction()
