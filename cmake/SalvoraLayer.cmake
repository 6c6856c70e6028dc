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

# One GoogleTest program per layer under tests/<layer>. SLOW names the tests (a gtest filter,
# patterns joined by ':') that run over the whole sample corpus: they become a second ctest entry,
# <layer>_corpus, of the same program, labelled "slow" so that `ctest -LE slow` leaves them out.
function(salvora_layer_tests layer)
  cmake_parse_arguments(T "" "SLOW" "DEPS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${layer}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  set(exe test_${layer})
  add_executable(${exe} ${srcs})
  target_include_directories(${exe} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(${exe} PRIVATE salvora_${layer} salvora_testsupport ${T_DEPS} GTest::gtest GTest::gtest_main)
  set(env "SALVORA_CORPUS_DIR=${SALVORA_CORPUS_DIR};SALVORA_TOOLS_DIR=${SALVORA_TOOLS_DIR};SALVORA_SOURCE_DIR=${CMAKE_SOURCE_DIR};SALVORA_BIN_DIR=${CMAKE_BINARY_DIR}/bin")
  # No resource lock: the source reader and the verifier share their lock on the files they read,
  # every test that writes or locks a file exclusively works on its own copy, and each program's
  # scratch folders carry its process id, so the programs run side by side.
  if(T_SLOW)
    add_test(NAME ${layer} COMMAND ${exe} --gtest_filter=-${T_SLOW})
    add_test(NAME ${layer}_corpus COMMAND ${exe} --gtest_filter=${T_SLOW})
    set_tests_properties(${layer}_corpus PROPERTIES LABELS slow ENVIRONMENT "${env}")
  else()
    add_test(NAME ${layer} COMMAND ${exe})
  endif()
  set_tests_properties(${layer} PROPERTIES ENVIRONMENT "${env}")
endfunction()
