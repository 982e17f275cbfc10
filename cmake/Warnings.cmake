# Every target of ours is built with the same warning set, kept per target.
option(VELMORA_SANITIZE "Build our targets with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(VELMORA_FUZZ "Build the fuzz harnesses (clang); our targets get the fuzzer's coverage" OFF)

function(velmora_warnings target)
    target_compile_features(${target} PUBLIC cxx_std_20)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 /utf-8)
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
    endif()
    velmora_sanitizers(${target})
endfunction()

# Instruments one target of ours for the sanitizer build (and, with
# VELMORA_FUZZ, for the fuzzer's coverage). System libraries -- Qt, ImageMagick
# -- stay as they are; only our code is checked. Undefined behaviour stops the
# program, so a test that meets it fails instead of printing a line.
function(velmora_sanitizers target)
    if(MSVC OR NOT (VELMORA_SANITIZE OR VELMORA_FUZZ))
        return()
    endif()
    set(checks -fsanitize=address,undefined -fno-sanitize-recover=undefined)
    target_compile_options(${target} PRIVATE ${checks} -fno-omit-frame-pointer)
    if(VELMORA_FUZZ)
        target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link)
    endif()
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE" OR type STREQUAL "SHARED_LIBRARY")
        target_link_options(${target} PRIVATE ${checks})
    endif()
endfunction()
