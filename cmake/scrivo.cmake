# Adds a GoogleTest program and registers its cases with CTest.
# scrivo_add_test(NAME name SOURCES ... LIBS ...)
function(scrivo_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${T_NAME} PRIVATE
    SCRIVO_BIN_DIR="${CMAKE_BINARY_DIR}/bin" SCRIVO_LIB_DIR="${CMAKE_BINARY_DIR}/lib")
  gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

# Adds each existing subfolder that has a CMakeLists.txt, so areas can be added one by one.
macro(scrivo_add_subdirs)
  foreach(dir ${ARGN})
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      add_subdirectory(${dir})
    endif()
  endforeach()
endmacro()
