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
# SHARDS n splits each entry into n (<layer>.1 ... <layer>.n, GoogleTest's own sharding), so that
# `ctest -j` runs a long program on every core instead of waiting for it on one.
function(salvora_layer_tests layer)
  cmake_parse_arguments(T "" "SLOW;SHARDS" "DEPS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${layer}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  set(exe test_${layer})
  add_executable(${exe} ${srcs})
  target_include_directories(${exe} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(${exe} PRIVATE salvora_${layer} salvora_testsupport ${T_DEPS} GTest::gtest GTest::gtest_main)
  set(env "SALVORA_CORPUS_DIR=${SALVORA_CORPUS_DIR};SALVORA_TOOLS_DIR=${SALVORA_TOOLS_DIR};SALVORA_SOURCE_DIR=${CMAKE_SOURCE_DIR};SALVORA_BIN_DIR=${CMAKE_BINARY_DIR}/bin;${SALVORA_TEST_ENV}")
  # No resource lock: the source reader and the verifier share their lock on the files they read,
  # every test that writes or locks a file exclusively works on its own copy, and each program's
  # scratch folders carry its process id, so the programs run side by side.
  if(NOT T_SHARDS)
    set(T_SHARDS 1)
  endif()
  set(entries ${layer})
  set(filters "")
  if(T_SLOW)
    list(APPEND entries ${layer}_corpus)
    set(filters "--gtest_filter=-${T_SLOW}" "--gtest_filter=${T_SLOW}")
  endif()
  foreach(entry IN LISTS entries)
    set(filter "")
    if(T_SLOW)
      list(FIND entries ${entry} at)
      list(GET filters ${at} filter)
    endif()
    foreach(shard RANGE 1 ${T_SHARDS})
      set(name ${entry})
      set(shard_env "")
      if(T_SHARDS GREATER 1)
        set(name ${entry}.${shard})
        math(EXPR index "${shard} - 1")
        set(shard_env ";GTEST_TOTAL_SHARDS=${T_SHARDS};GTEST_SHARD_INDEX=${index}")
      endif()
      add_test(NAME ${name} COMMAND ${exe} ${filter})
      # Every test carries its layer's label (ctest -L pststore), the corpus-wide ones "slow" too.
      set(labels ${layer})
      if(entry STREQUAL "${layer}_corpus")
        list(APPEND labels slow)
      endif()
      set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}${shard_env}" LABELS "${labels}")
    endforeach()
  endforeach()
endfunction()
