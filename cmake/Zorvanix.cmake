# Build helpers shared by every subsystem.

# The build lays its outputs out as the installed product tree.
set(ZV_PRODUCT_DIR ${CMAKE_BINARY_DIR}/product)
set(ZV_PROGRAM_DIR ${ZV_PRODUCT_DIR}/Program)
file(MAKE_DIRECTORY ${ZV_PROGRAM_DIR} ${ZV_PRODUCT_DIR}/Config/Hall ${ZV_PRODUCT_DIR}/Skin ${ZV_PRODUCT_DIR}/PrintScreen)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(ZV_WIDL_FLAGS --win64 -L/usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
  set(ZV_WINE_LOADER /usr/lib/wine/wine64)
else()
  set(ZV_WIDL_FLAGS --win32 -L/usr/lib/i386-linux-gnu/wine/i386-windows)
  set(ZV_WINE_LOADER /usr/lib/wine/wine)
endif()

if(ZV_BUILD_TESTS)
  find_library(ZV_GTEST gtest REQUIRED)
  find_library(ZV_GTEST_MAIN gtest_main REQUIRED)
  find_path(ZV_GTEST_INCLUDE gtest/gtest.h REQUIRED)
endif()

# zv_product_binary(target): puts an executable or DLL into Program/.
function(zv_product_binary target)
  set_target_properties(${target} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${ZV_PROGRAM_DIR}
    LIBRARY_OUTPUT_DIRECTORY ${ZV_PROGRAM_DIR}
    PREFIX "")
endfunction()

# zv_typelib(target idl [sources...]): compiles IDL (a path relative to the
# current source folder, or absolute) into a type library with widl for the
# build's target, and puts the folder holding it and the generated header on
# target's include and resource search paths; targets linking target see them
# too. The listed sources (the .rc embedding the .tlb) are rebuilt with it.
function(zv_typelib target idl)
  get_filename_component(idl_path ${idl} ABSOLUTE)
  get_filename_component(name ${idl} NAME_WE)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${name}.tlb)
  set(hdr ${CMAKE_CURRENT_BINARY_DIR}/${name}_h.h)
  add_custom_command(OUTPUT ${out} ${hdr}
    COMMAND ${ZV_TRIPLE}-widl ${ZV_WIDL_FLAGS} -I/usr/include/wine/wine/windows
            -t -h -o ${out} -H ${hdr}
            ${idl_path}
    DEPENDS ${idl_path}
    COMMENT "widl ${idl}")
  add_custom_target(${target}_typelib DEPENDS ${out} ${hdr})
  add_dependencies(${target} ${target}_typelib)
  target_include_directories(${target} PUBLIC ${CMAKE_CURRENT_BINARY_DIR})
  if(ARGN)
    set_property(SOURCE ${ARGN} APPEND PROPERTY OBJECT_DEPENDS ${out})
  endif()
endfunction()

# zv_copy_binaries(target dir binary...): copies the binaries' files into dir
# on every build, not only when target relinks, so a rebuilt DLL always
# reaches the folder that loads it.
function(zv_copy_binaries target dir)
  if(NOT ARGN)
    return()
  endif()
  set(files)
  foreach(binary ${ARGN})
    list(APPEND files $<TARGET_FILE:${binary}>)
  endforeach()
  add_custom_target(${target}_binaries
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${files} ${dir}/
    COMMAND_EXPAND_LISTS)
  add_dependencies(${target}_binaries ${ARGN})
  add_dependencies(${target} ${target}_binaries)
endfunction()

# zv_wine_test(name SOURCES ... LIBS ... COPY targets ... [LABELS ...]):
# a GoogleTest program run by CTest under Wine. Each test program gets its own
# Program/ folder (its own MD.cfg) with copies of the product binaries it
# loads, so the "..\" location rules work as on a user's machine.
function(zv_wine_test name)
  if(NOT ZV_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;COPY;LABELS" ${ARGN})
  set(dir ${CMAKE_BINARY_DIR}/testtrees/${name}/Program)
  add_executable(${name} ${T_SOURCES})
  target_include_directories(${name} PRIVATE ${ZV_GTEST_INCLUDE} ${PROJECT_SOURCE_DIR}/tests/support)
  target_link_libraries(${name} PRIVATE ${T_LIBS} ${ZV_GTEST_MAIN} ${ZV_GTEST})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${dir})
  zv_copy_binaries(${name} ${dir} ${T_COPY})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${dir})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
endfunction()

# zv_add_subdirectories(): adds every immediate subfolder that has a
# CMakeLists.txt, so subsystems can be added without editing their parent.
macro(zv_add_subdirectories)
  file(GLOB zv_children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT zv_children)
  foreach(zv_child ${zv_children})
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${zv_child} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${zv_child}/CMakeLists.txt)
      add_subdirectory(${zv_child})
    endif()
  endforeach()
endmacro()
