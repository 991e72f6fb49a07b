# The link settings every plugin binary shares, whatever its format: only the
# entry points are exported (exports.map beside the target's CMakeLists on
# Linux, the .def file given as DEF on Windows), Windows binaries carry their
# runtime so they need nothing but Windows' own DLLs, and no reference is left
# open, except in sanitizer builds, where the executable brings the runtime.
function(nimbohall_plugin_link target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "DEF" "")
  if(WIN32)
    if(arg_DEF)
      target_sources(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/${arg_DEF})
    endif()
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++ -s)
  else()
    set(map ${CMAKE_CURRENT_SOURCE_DIR}/exports.map)
    target_link_options(${target} PRIVATE -Wl,--version-script=${map})
    if(NOT NIMBOHALL_SANITIZED)
      target_link_options(${target} PRIVATE -Wl,--no-undefined)
    endif()
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${map})
  endif()
endfunction()
