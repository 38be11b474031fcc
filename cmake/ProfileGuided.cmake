# Profile-guided optimisation (the release-pgo preset): the compiler lays out and inlines the
# code by what the benchmark programs execute, which gains a tenth to a fifth of their time.
#
# With IE_PGO on, the build first configures and builds an instrumented ierun in pgo/instrumented
# (IE_PGO_PHASE=generate), runs bench/train-profile with it (the bench programs at small sizes,
# their data written in pgo/train), which leaves the counts in pgo/profile, and then compiles
# every target with them. Everything lives in the build tree; nothing generated is committed.
# The profile is made once per build tree: delete pgo/ to train again after large changes.
#
# The counts of an object are filed under its path relative to its build tree
# (-fprofile-prefix-path), so that the final build finds those the instrumented one wrote.
option(IE_PGO "Build with a profile trained on the bench programs (release-pgo preset)" OFF)
set(IE_PGO_PHASE "" CACHE STRING "Internal: 'generate' in the instrumented build of IE_PGO")
set(IE_PGO_DIR "${CMAKE_BINARY_DIR}/pgo/profile" CACHE PATH "Where the profile's counts go")

if(IE_PGO_PHASE STREQUAL "generate")
  add_compile_options(-fprofile-generate=${IE_PGO_DIR} -fprofile-prefix-path=${CMAKE_BINARY_DIR})
  add_link_options(-fprofile-generate=${IE_PGO_DIR})
elseif(IE_PGO)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    message(FATAL_ERROR "IE_PGO needs GCC (-fprofile-prefix-path)")
  endif()
  include(ExternalProject)
  set(_ie_pgo_args -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE} -DIE_PGO_PHASE=generate
      -DIE_PGO_DIR=${IE_PGO_DIR} -DIE_BUILD_GUI=OFF -DIE_BUILD_TESTS=OFF
      -DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER})
  if(CMAKE_CXX_COMPILER_LAUNCHER)
    list(APPEND _ie_pgo_args -DCMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER})
  endif()
  set(_ie_pgo_build ${CMAKE_BINARY_DIR}/pgo/instrumented)
  # Under make, the instrumented build takes its jobs from the outer one's -j.
  if(CMAKE_GENERATOR MATCHES "Makefiles")
    set(_ie_pgo_make $(MAKE) ierun)
  else()
    set(_ie_pgo_make ${CMAKE_COMMAND} --build ${_ie_pgo_build} --target ierun)
  endif()
  ExternalProject_Add(ie_pgo_instrumented
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${_ie_pgo_build}
    CMAKE_ARGS ${_ie_pgo_args}
    BUILD_COMMAND ${_ie_pgo_make}
    INSTALL_COMMAND ""
    # Built once: the profile stays with the build tree (see above).
    BUILD_ALWAYS OFF)
  set(_ie_pgo_stamp ${CMAKE_BINARY_DIR}/pgo/trained.stamp)
  add_custom_command(OUTPUT ${_ie_pgo_stamp}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${IE_PGO_DIR}
    COMMAND bash ${CMAKE_SOURCE_DIR}/bench/train-profile ${_ie_pgo_build}/tools/ierun
            ${CMAKE_BINARY_DIR}/pgo/train
    COMMAND ${CMAKE_COMMAND} -E touch ${_ie_pgo_stamp}
    DEPENDS ie_pgo_instrumented
    COMMENT "Training the profile on the bench programs" VERBATIM)
  add_custom_target(ie_pgo_profile DEPENDS ${_ie_pgo_stamp})
  # A unit no training run reached (the editors, the tests) has no counts; the instrumented
  # build leaves the Qt parts out, so the few units compiled otherwise there do not match.
  add_compile_options(-fprofile-use=${IE_PGO_DIR} -fprofile-prefix-path=${CMAKE_BINARY_DIR}
                      -Wno-missing-profile -Wno-coverage-mismatch)
endif()

# Makes `target` wait for the profile (a no-op without IE_PGO).
function(ie_after_profile target)
  if(TARGET ie_pgo_profile)
    add_dependencies(${target} ie_pgo_profile)
  endif()
endfunction()
