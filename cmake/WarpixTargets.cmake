# Helpers shared by the project's libraries, programs and test builds.

# The vector kernels are compiled with these options wherever they are built
# (the libraries, and the instrumented copies of the fuzz build): no
# contraction of a * b + c into a fused multiply-add (the targets with FMA would
# otherwise round differently from the targets without it and from the
# one-value loops), no errno from the square roots, and no automatic
# vectorisation of their scalar parts: GCC 12's vectoriser forms fused
# multiply-add-subtract pairs even with contraction off.
set(WARPIX_KERNEL_OPTIONS -fno-math-errno -ffp-contract=off -fno-tree-vectorize)

# warpix_library(<folder> [DEPENDS <libraries below it> ...] SOURCES <files> ...)
# The static library warpix_<folder> of one folder of src/. Its includes are
# written from src/ ("deform/Warpixator.h"); DEPENDS are linked PUBLIC, since
# their headers appear in this folder's headers. The library is built as
# position-independent code.
function(warpix_library folder)
  cmake_parse_arguments(ARG "" "" "DEPENDS;SOURCES" ${ARGN})
  set(target warpix_${folder})
  add_library(${target} STATIC ${ARG_SOURCES})
  target_compile_features(${target} PUBLIC cxx_std_17)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${target} PUBLIC ${ARG_DEPENDS})
  # Position-independent, so that the Python module (a shared object) can
  # link the same libraries as the programs; without semantic interposition,
  # so that the compiler still inlines and calls directly within a library as
  # in the programs' position-independent executables.
  set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  target_compile_options(${target} PRIVATE -fno-semantic-interposition)
  set_property(GLOBAL APPEND PROPERTY WARPIX_LIBRARIES ${target})
endfunction()

# warpix_kernel_sources(<target> <files> ...): marks a library's vector
# kernels. The options apply to the library's build, and the files are
# remembered (WARPIX_KERNEL_SOURCES) for other builds of the same sources.
function(warpix_kernel_sources target)
  set_source_files_properties(${ARGN} TARGET_DIRECTORY ${target}
    PROPERTIES COMPILE_OPTIONS "${WARPIX_KERNEL_OPTIONS}")
  foreach(file IN LISTS ARGN)
    get_filename_component(path ${file} ABSOLUTE)
    set_property(GLOBAL APPEND PROPERTY WARPIX_KERNEL_SOURCES ${path})
  endforeach()
endfunction()

# warpix_unsanitized_sources(<target> <files> ...): sources that clang's
# sanitizer and fuzz builds compile without instrumentation, because clang
# then takes tens of minutes over them (fully inlined small dense solvers);
# after warpix_kernel_sources, whose options it extends. The files are
# remembered (WARPIX_UNSANITIZED_SOURCES) for the fuzz build's copies.
function(warpix_unsanitized_sources target)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    return()
  endif()
  set_property(SOURCE ${ARGN} TARGET_DIRECTORY ${target}
    APPEND PROPERTY COMPILE_OPTIONS -fno-sanitize=all)
  foreach(file IN LISTS ARGN)
    get_filename_component(path ${file} ABSOLUTE)
    set_property(GLOBAL APPEND PROPERTY WARPIX_UNSANITIZED_SOURCES ${path})
  endforeach()
endfunction()

# warpix_library_sources(<variable> <targets> ...): the absolute paths of the
# sources of the given libraries.
function(warpix_library_sources variable)
  set(paths)
  foreach(target IN LISTS ARGN)
    get_target_property(dir ${target} SOURCE_DIR)
    get_target_property(files ${target} SOURCES)
    foreach(file IN LISTS files)
      get_filename_component(path ${file} ABSOLUTE BASE_DIR ${dir})
      list(APPEND paths ${path})
    endforeach()
  endforeach()
  set(${variable} ${paths} PARENT_SCOPE)
endfunction()

# warpix_check_no_gl(<targets> ...): stops the configuration when a target's
# link closure reaches OpenGL, GLU or GLUT. Called once every target exists,
# for the programs that must run without a display.
function(_warpix_link_closure target out)
  set(seen ${${out}})
  if(NOT TARGET ${target} OR ${target} IN_LIST seen)
    set(${out} ${seen} PARENT_SCOPE)
    return()
  endif()
  list(APPEND seen ${target})
  get_target_property(type ${target} TYPE)
  set(links)
  if(NOT type STREQUAL "INTERFACE_LIBRARY")
    get_target_property(direct ${target} LINK_LIBRARIES)
    if(direct)
      list(APPEND links ${direct})
    endif()
  endif()
  get_target_property(interface ${target} INTERFACE_LINK_LIBRARIES)
  if(interface)
    list(APPEND links ${interface})
  endif()
  foreach(link IN LISTS links)
    string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" link "${link}")
    _warpix_link_closure("${link}" seen)
  endforeach()
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

function(warpix_check_no_gl)
  foreach(target IN LISTS ARGN)
    if(NOT TARGET ${target})
      continue()
    endif()
    set(closure)
    _warpix_link_closure(${target} closure)
    foreach(gl IN ITEMS OpenGL::GL OpenGL::GLU OpenGL::OpenGL OpenGL::GLX GLUT::GLUT)
      if(gl IN_LIST closure)
        message(FATAL_ERROR "${target} links ${gl}: only warpix_window may link GL")
      endif()
    endforeach()
  endforeach()
endfunction()
