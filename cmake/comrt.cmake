# Build steps of the automation runtime: interface definitions and module resources.

# comrt_add_idl(TARGET target IDL file.idl [EMBED symbol])
# Compiles file.idl with idlc into <name>.h (added to the target's include path) and
# <name>.tlb; ${target}_TLB names the type library file in the caller's scope. With EMBED
# the type library is also compiled into the target as a byte array `symbol`.
function(comrt_add_idl)
  cmake_parse_arguments(A "" "TARGET;IDL;EMBED" "" ${ARGN})
  get_filename_component(idl ${A_IDL} ABSOLUTE)
  get_filename_component(name ${A_IDL} NAME_WE)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/idl/${A_TARGET})
  set(header ${dir}/${name}.h)
  set(tlb ${dir}/${name}.tlb)
  set(outputs ${header} ${tlb})
  set(extra)
  if(A_EMBED)
    set(source ${dir}/${name}_tlb.cpp)
    list(APPEND outputs ${source})
    set(extra --source ${source} --symbol ${A_EMBED})
  endif()
  add_custom_command(OUTPUT ${outputs}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND idlc ${idl} --header ${header} --tlb ${tlb} ${extra}
    DEPENDS idlc ${idl}
    COMMENT "idlc ${name}.idl"
    VERBATIM)
  target_sources(${A_TARGET} PRIVATE ${header} ${source})
  target_include_directories(${A_TARGET} PRIVATE ${dir})
  set_property(TARGET ${A_TARGET} APPEND PROPERTY COMRT_IDL_DIRS ${dir})
  set_property(TARGET ${A_TARGET} APPEND PROPERTY COMRT_TLBS ${tlb})
  set(${A_TARGET}_TLB ${tlb} PARENT_SCOPE)
endfunction()

# comrt_use_idl(TARGET consumer FROM producer): lets another target of the same folder
# include the headers that comrt_add_idl made for producer.
function(comrt_use_idl)
  cmake_parse_arguments(A "" "TARGET;FROM" "" ${ARGN})
  get_target_property(dirs ${A_FROM} COMRT_IDL_DIRS)
  target_include_directories(${A_TARGET} PRIVATE ${dirs})
  add_dependencies(${A_TARGET} ${A_FROM})
endfunction()

# comrt_add_resources(TARGET target RC file.rc [DEPENDS files...])
# Embeds the resources of file.rc in the target. Files named in the script are found
# beside it, then among the target's idlc outputs (so "TYPELIB 1 \"X.tlb\"" works).
function(comrt_add_resources)
  cmake_parse_arguments(A "" "TARGET;RC" "DEPENDS" ${ARGN})
  get_filename_component(rc ${A_RC} ABSOLUTE)
  get_filename_component(name ${A_RC} NAME_WE)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/res/${A_TARGET})
  set(out ${dir}/${name}_res.cpp)
  get_target_property(idlDirs ${A_TARGET} COMRT_IDL_DIRS)
  get_target_property(tlbs ${A_TARGET} COMRT_TLBS)
  set(includes)
  if(idlDirs)
    foreach(d ${idlDirs})
      list(APPEND includes -I ${d})
    endforeach()
  else()
    set(tlbs)
  endif()
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND rescomp ${rc} -o ${out} ${includes} --depfile ${out}.d
    DEPENDS rescomp ${rc} ${tlbs} ${A_DEPENDS}
    DEPFILE ${out}.d
    COMMENT "rescomp ${name}.rc"
    VERBATIM)
  target_sources(${A_TARGET} PRIVATE ${out})
endfunction()
