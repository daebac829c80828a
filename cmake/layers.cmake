# The direction of the layers: the core (src/core) links Qt Core only, and so
# does the command line; only the windows (src/gui) use Qt Gui and Qt Widgets.
#
# Besides, TagLib's headers are included by one file of the core only, its
# adapter (src/core/tags/taglibadapter.cpp).
#
# Included by the top CMakeLists.txt for dorvasu_check_layer() and
# dorvasu_check_core_includes(). Run as a script, it does the include checks
# alone (the test test_layers, so an edit made after the configure is caught):
#   cmake -DCORE_DIR=... -DGUI_HEADER_DIRS=dir;dir -DTAGLIB_HEADER_DIRS=dir -P layers.cmake

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  cmake_minimum_required(VERSION 3.25)
endif()

# Every target `target` links, directly or through others.
function(dorvasu_link_closure target out)
  set(seen "")
  set(todo ${target})
  while(todo)
    list(POP_FRONT todo t)
    if(t IN_LIST seen OR NOT TARGET ${t})
      continue()
    endif()
    list(APPEND seen ${t})
    get_target_property(type ${t} TYPE)
    set(libs "")
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(direct ${t} LINK_LIBRARIES)
      if(direct)
        list(APPEND libs ${direct})
      endif()
    endif()
    get_target_property(usage ${t} INTERFACE_LINK_LIBRARIES)
    if(usage)
      list(APPEND libs ${usage})
    endif()
    foreach(lib ${libs})
      # A static library's private links show as $<LINK_ONLY:...>.
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" lib "${lib}")
      list(APPEND todo ${lib})
    endforeach()
  endwhile()
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

# Fails the configure when `target` links Qt Gui or Qt Widgets, directly or
# through another target. Call it once every target is defined: a link to a
# target not yet defined is not followed.
function(dorvasu_check_layer target)
  dorvasu_link_closure(${target} closure)
  foreach(gui Qt6::Gui Qt6::Widgets)
    if(gui IN_LIST closure)
      message(FATAL_ERROR "${target} must not link ${gui}; it links: ${closure}")
    endif()
  endforeach()
endfunction()

# The folders that hold the headers of Qt Gui and Qt Widgets.
# The include folders of the targets `ARGN` whose path matches `pattern`.
function(dorvasu_include_dirs_matching out pattern)
  set(dirs "")
  foreach(target ${ARGN})
    get_target_property(includes ${target} INTERFACE_INCLUDE_DIRECTORIES)
    foreach(dir ${includes})
      if(dir MATCHES "${pattern}")
        list(APPEND dirs ${dir})
      endif()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES dirs)
  set(${out} ${dirs} PARENT_SCOPE)
endfunction()

function(dorvasu_gui_header_dirs out)
  dorvasu_include_dirs_matching(dirs "/Qt(Gui|Widgets)$" Qt6::Gui Qt6::Widgets)
  set(${out} ${dirs} PARENT_SCOPE)
endfunction()

# Fails when a file under `core_dir` includes a header of Qt Gui or Qt Widgets,
# by its bare name (<QIcon>, <qicon.h>) or with its module (<QtGui/QIcon>,
# <QtWidgets>), or a header of the windows or the command line ("gui/...").
function(dorvasu_scan_core_includes core_dir gui_dirs)
  set(forbidden "")
  foreach(dir ${gui_dirs})
    get_filename_component(module ${dir} NAME)
    list(APPEND forbidden ${module})
    file(GLOB headers RELATIVE ${dir} ${dir}/*)
    foreach(h ${headers})
      list(APPEND forbidden ${h} ${module}/${h})
    endforeach()
  endforeach()
  if(NOT forbidden)
    message(FATAL_ERROR "no headers of Qt Gui or Qt Widgets found in '${gui_dirs}'")
  endif()
  file(GLOB_RECURSE files ${core_dir}/*.cpp ${core_dir}/*.h)
  set(faults "")
  foreach(f ${files})
    file(STRINGS ${f} lines REGEX "^[ \t]*#[ \t]*include[ \t]*<")
    foreach(line ${lines})
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*<([^>]*)>.*" "\\1" header "${line}")
      if(header IN_LIST forbidden)
        file(RELATIVE_PATH rel ${core_dir} ${f})
        list(APPEND faults "${rel}: <${header}>")
      endif()
    endforeach()
  endforeach()
  # The windows' and the command line's own headers, included by their path.
  foreach(f ${files})
    file(STRINGS ${f} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"(gui|cli)/")
    foreach(line ${lines})
      file(RELATIVE_PATH rel ${core_dir} ${f})
      string(STRIP "${line}" line)
      list(APPEND faults "${rel}: ${line}")
    endforeach()
  endforeach()
  if(faults)
    list(JOIN faults "\n  " text)
    message(FATAL_ERROR "the core includes Qt Gui or Qt Widgets:\n  ${text}")
  endif()
endfunction()

# The folders of TagLib's include path that hold its headers by their bare
# names (<tag.h>, <id3v2tag.h>).
function(dorvasu_taglib_header_dirs out)
  dorvasu_include_dirs_matching(dirs "/taglib$" PkgConfig::TAGLIB)
  set(${out} ${dirs} PARENT_SCOPE)
endfunction()

# Fails when a file under `core_dir` other than the TagLib adapter includes
# a header of TagLib: by its folder (<taglib/tag.h>) or by a bare name that
# one of `taglib_dirs` holds (<tag.h>, "mpegfile.h").
function(dorvasu_scan_taglib_includes core_dir taglib_dirs)
  set(names "")
  foreach(dir ${taglib_dirs})
    file(GLOB headers RELATIVE ${dir} ${dir}/*)
    list(APPEND names ${headers})
  endforeach()
  file(GLOB_RECURSE files ${core_dir}/*.cpp ${core_dir}/*.h)
  set(faults "")
  foreach(f ${files})
    file(RELATIVE_PATH rel ${core_dir} ${f})
    if(rel STREQUAL "tags/taglibadapter.cpp")
      continue()
    endif()
    file(STRINGS ${f} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
    foreach(line ${lines})
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[<\"]([^>\"]*)[>\"].*" "\\1" header "${line}")
      if(header MATCHES "^taglib/" OR header IN_LIST names)
        list(APPEND faults "${rel}: ${header}")
      endif()
    endforeach()
  endforeach()
  if(faults)
    list(JOIN faults "\n  " text)
    message(FATAL_ERROR "only tags/taglibadapter.cpp includes TagLib; also:\n  ${text}")
  endif()
endfunction()

# The include checks at configure time, over the calling folder.
function(dorvasu_check_core_includes)
  dorvasu_gui_header_dirs(gui_dirs)
  dorvasu_scan_core_includes(${CMAKE_CURRENT_SOURCE_DIR} "${gui_dirs}")
  dorvasu_taglib_header_dirs(taglib_dirs)
  dorvasu_scan_taglib_includes(${CMAKE_CURRENT_SOURCE_DIR} "${taglib_dirs}")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  dorvasu_scan_core_includes(${CORE_DIR} "${GUI_HEADER_DIRS}")
  dorvasu_scan_taglib_includes(${CORE_DIR} "${TAGLIB_HEADER_DIRS}")
endif()
