# The sanitizer build (scripts/sanitize.sh) and the fuzz build (scripts/fuzz.sh)
# instrument every target this project builds: the product, the tests, the
# bench and the harnesses, and any target added later. System libraries -- Qt,
# ImageMagick -- stay as they are; only our code is checked. Undefined
# behaviour stops the program, so a test that meets it fails instead of
# printing a line. Included before the first target is made.
option(VELMORA_SANITIZE "Build our targets with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(VELMORA_FUZZ "Build the fuzz harnesses (clang); our targets get the fuzzer's coverage" OFF)

if((VELMORA_SANITIZE OR VELMORA_FUZZ) AND NOT MSVC)
    set(velmora_sanitizer_checks -fsanitize=address,undefined -fno-sanitize-recover=undefined)
    add_compile_options(${velmora_sanitizer_checks} -fno-omit-frame-pointer)
    add_link_options(${velmora_sanitizer_checks})
    if(VELMORA_FUZZ)
        # The harnesses link libFuzzer's main themselves (tests/fuzz).
        add_compile_options(-fsanitize=fuzzer-no-link)
    endif()
endif()
