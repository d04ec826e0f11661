# One place that gives our targets their flags, so every target builds the same way.

# Warnings, one per line with the reason. They become errors with POINTILLO_WERROR.
set(POINTILLO_WARNINGS
    -Wall                   # the usual set
    -Wextra                 # and the less usual
    -Wpedantic              # no compiler extensions by accident
    -Wshadow                # a local hiding another is a bug waiting to happen
    -Wdouble-promotion      # float arithmetic must stay float: results are compared bit for bit
    -Wfloat-conversion      # no silent double to float (or float to int) narrowing
    -Wnon-virtual-dtor      # we have no hierarchies; catch one appearing
    -Wimplicit-fallthrough  # every switch case ends on purpose
    -Wundef                 # an unset macro in #if is a typo
    -Wcast-qual             # do not drop const through a cast
)

# Same bits on every build and platform: no contraction into FMA, no fast-math.
set(POINTILLO_FP_FLAGS -ffp-contract=off -fno-fast-math)

if(POINTILLO_SANITIZE STREQUAL "asan-ubsan")
    set(POINTILLO_SANITIZER_FLAGS
        -fsanitize=address,undefined,float-cast-overflow,float-divide-by-zero
        -fno-sanitize-recover=all -fno-omit-frame-pointer)
elseif(POINTILLO_SANITIZE STREQUAL "tsan")
    set(POINTILLO_SANITIZER_FLAGS -fsanitize=thread -fno-omit-frame-pointer)
elseif(NOT POINTILLO_SANITIZE STREQUAL "")
    message(FATAL_ERROR "POINTILLO_SANITIZE must be empty, asan-ubsan or tsan")
endif()

# Sanitizers reach every target, third-party test frameworks included, so that
# the runtime sees one consistent world.
if(POINTILLO_SANITIZER_FLAGS)
    add_compile_options(${POINTILLO_SANITIZER_FLAGS})
    add_link_options(${POINTILLO_SANITIZER_FLAGS})
endif()

function(pointillo_target_flags target)
    target_compile_features(${target} PUBLIC cxx_std_20)
    target_compile_options(${target} PRIVATE ${POINTILLO_WARNINGS} ${POINTILLO_FP_FLAGS})
    if(POINTILLO_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
    set_target_properties(${target} PROPERTIES
        CXX_VISIBILITY_PRESET hidden
        VISIBILITY_INLINES_HIDDEN ON)
    if(MINGW)
        # Only system DLLs at run time: the C++ runtime travels inside each binary.
        target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
    endif()
endfunction()

# A core library: plain values in, plain values out, no host interface in
# reach. Its include root is src/core, which does not contain src/host, so a
# core file that includes the host interface does not compile.
set(POINTILLO_CORE_INCLUDE_DIR ${PROJECT_SOURCE_DIR}/src/core)
function(pointillo_add_core_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${POINTILLO_CORE_INCLUDE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_DEPENDS})
    pointillo_target_flags(${name})
endfunction()

# A test executable, registered with CTest. Under a cross build CTest runs it
# through CMAKE_CROSSCOMPILING_EMULATOR (wine).
function(pointillo_add_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gtest GTest::gtest_main)
    pointillo_target_flags(${name})
    add_test(NAME ${name} COMMAND ${name})
    if(ARG_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
    endif()
endfunction()
