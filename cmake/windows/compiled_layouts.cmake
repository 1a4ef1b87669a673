# talvora_compiled_layouts(TARGET SKIN_DIR [FUNCTION name]): every layout file of the
# folder compiled into TARGET with the host's uic, and a function (default
# RegisterCompiledLayouts) registering each under its file name. The target must link
# whatever custom controls the layouts name.
function(talvora_compiled_layouts target skin)
  cmake_parse_arguments(L "" "FUNCTION" "" ${ARGN})
  if(NOT L_FUNCTION)
    set(L_FUNCTION RegisterCompiledLayouts)
  endif()
  if(TARGET Qt6::uic)
    set(uic $<TARGET_FILE:Qt6::uic>)
  else()
    find_program(uic NAMES uic PATHS /usr/lib/qt6/libexec NO_DEFAULT_PATH REQUIRED)
  endif()
  set(out ${CMAKE_BINARY_DIR}/layouts/${target})
  file(MAKE_DIRECTORY ${out})
  file(GLOB layouts CONFIGURE_DEPENDS ${skin}/*.ui)
  set(declarations "")
  set(registrations "")
  foreach(ui ${layouts})
    get_filename_component(file ${ui} NAME)
    get_filename_component(stem ${ui} NAME_WE)
    string(MAKE_C_IDENTIFIER ${stem} id)
    add_custom_command(OUTPUT ${out}/${id}.ui ${out}/${id}_layout.cpp
      COMMAND ${CMAKE_COMMAND} -DUI=${ui} -DID=${id} -DOUT=${out}
        -P ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/layout_code.cmake
      DEPENDS ${ui} ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/layout_code.cmake
      COMMENT "Preparing layout ${file}")
    add_custom_command(OUTPUT ${out}/ui_${id}.h
      COMMAND ${uic} ${out}/${id}.ui -o ${out}/ui_${id}.h
      DEPENDS ${out}/${id}.ui
      COMMENT "Compiling layout ${file}")
    set_source_files_properties(${out}/${id}_layout.cpp PROPERTIES
      OBJECT_DEPENDS ${out}/ui_${id}.h SKIP_AUTOMOC ON)
    target_sources(${target} PRIVATE ${out}/${id}_layout.cpp)
    string(APPEND declarations "QWidget* BuildLayout_${id}(QWidget* parent);\n")
    string(APPEND registrations "    RegisterCompiledLayout(\"${file}\", &BuildLayout_${id});\n")
  endforeach()
  file(CONFIGURE OUTPUT ${out}/compiled_layouts.cpp CONTENT "// Generated from the skin's layouts.
#include \"ui/skin.h\"

${declarations}
void ${L_FUNCTION}() {
${registrations}}
")
  set_source_files_properties(${out}/compiled_layouts.cpp PROPERTIES SKIP_AUTOMOC ON)
  target_sources(${target} PRIVATE ${out}/compiled_layouts.cpp)
  target_include_directories(${target} PRIVATE ${out})
endfunction()
