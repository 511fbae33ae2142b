# Compile settings shared by every object of the library proper.

# Warnings on and clean; no fused multiply-add contraction, so results do not
# depend on the compiler's choice; hidden symbols, so only QN_API functions
# are exported; no exceptions or RTTI anywhere in the library.
function(quarnelo_library_settings target)
  # Decided here, not in a generator expression: the sanitizer list holds
  # commas ("address,undefined"), which a generator expression would split.
  set(optimise "")
  if(QUARNELO_OPTIMIZE AND NOT QUARNELO_SANITIZE)
    set(optimise "$<$<CONFIG:RelWithDebInfo>:-O3>")
  endif()
  target_include_directories(${target}
    PUBLIC "$<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>"
    PRIVATE "${PROJECT_SOURCE_DIR}/src")
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti -fvisibility-inlines-hidden>
    -fvisibility=hidden -ffp-contract=off -fno-math-errno
    -Wall -Wextra -Wpedantic -Wconversion -Wshadow
    -Wno-psabi  # 32-byte vectors between internal inline functions only
    $<$<BOOL:${QUARNELO_WERROR}>:-Werror>
    # The library's speed is that of -O3, at which the benchmarks measure it
    # (Release); the default RelWithDebInfo build would otherwise stop at
    # -O2, which leaves the transforms' butterflies out of line and runs the
    # ECMA-418-2 tonality a third slower. The results are the same bits. A
    # sanitized build, or one with QUARNELO_OPTIMIZE off, keeps -O2 and
    # compiles sooner: for trees whose speed nobody measures.
    ${optimise})
  target_compile_definitions(${target} PRIVATE QUARNELO_SHARED_BUILD)
endfunction()

# A copy of the library objects built with the given instrumentation and the
# failure-switch allocator.
function(quarnelo_instrumented_library name flags)
  add_library(${name} STATIC ${QUARNELO_SOURCES} "${PROJECT_SOURCE_DIR}/tests/support/alloc_hook.cpp")
  quarnelo_library_settings(${name})
  target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}/include" "${PROJECT_SOURCE_DIR}/src"
                                            "${PROJECT_SOURCE_DIR}/tests")
  target_compile_options(${name} PUBLIC ${flags})
  target_link_options(${name} PUBLIC ${flags})
  target_link_libraries(${name} PUBLIC ${QUARNELO_LINK_LIBRARIES} m)
endfunction()

