# Adds every direct subfolder of the current source folder that has a CMakeLists.txt,
# so that tools, benchmarks and cross-subsystem tests can be added without editing
# a shared list.
file(GLOB _vrexa_children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
list(SORT _vrexa_children)
foreach(_child IN LISTS _vrexa_children)
  if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${_child} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${_child}/CMakeLists.txt)
    add_subdirectory(${_child})
  endif()
endforeach()
