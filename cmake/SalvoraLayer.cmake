# One CMake library per layer folder. Sources are globbed so that a new file in a layer needs
# no edit here; CONFIGURE_DEPENDS re-runs the glob when files come and go.
function(salvora_layer name)
  cmake_parse_arguments(L "" "" "DEPS;PRIVATE_DEPS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  set(lib salvora_${name})
  add_library(${lib} STATIC ${srcs} ${CMAKE_SOURCE_DIR}/cmake/empty.cpp)
  target_include_directories(${lib} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(${lib} PUBLIC ${L_DEPS} PRIVATE ${L_PRIVATE_DEPS})
endfunction()

# One GoogleTest program per layer under tests/<layer>.
function(salvora_layer_tests layer)
  cmake_parse_arguments(T "" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${layer}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  set(exe test_${layer})
  add_executable(${exe} ${srcs})
  target_include_directories(${exe} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(${exe} PRIVATE salvora_${layer} salvora_testsupport ${T_DEPS} GTest::gtest GTest::gtest_main)
  add_test(NAME ${layer} COMMAND ${exe})
  # The source reader takes an exclusive lock on the files it reads, as a file in use must be
  # refused; test programs that read the bundled sample or the corpus therefore take turns.
  set_tests_properties(${layer} PROPERTIES RESOURCE_LOCK salvora_source_files)
  set_tests_properties(${layer} PROPERTIES ENVIRONMENT
    "SALVORA_CORPUS_DIR=${SALVORA_CORPUS_DIR};SALVORA_TOOLS_DIR=${SALVORA_TOOLS_DIR};SALVORA_SOURCE_DIR=${CMAKE_SOURCE_DIR};SALVORA_BIN_DIR=${CMAKE_BINARY_DIR}/bin")
endfunction()
