# Compiler settings shared by every target of ours: linked as an INTERFACE target so nothing
# edits global flags.
add_library(velmo_warnings INTERFACE)
target_compile_features(velmo_warnings INTERFACE cxx_std_20)
target_compile_options(velmo_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                                -Wno-sign-conversion)
# GCC 12 reports impossible overlaps in std::string assignments at -O3 (GCC bug 105329), which
# only an optimised build shows; the warning is kept for every other compiler.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(velmo_warnings INTERFACE -Wno-restrict)
endif()
if(VELMO_WERROR)
    target_compile_options(velmo_warnings INTERFACE -Werror)
endif()
if(VELMO_SANITIZE)
    target_compile_options(velmo_warnings INTERFACE -fsanitize=address,undefined
                                                    -fno-omit-frame-pointer -fno-sanitize-recover=all)
    target_link_options(velmo_warnings INTERFACE -fsanitize=address,undefined)
endif()
if(VELMO_BUILD_FUZZ)
    # Coverage for libFuzzer and both sanitizers on everything of ours; the fuzz targets add
    # -fsanitize=fuzzer, which links libFuzzer's main.
    target_compile_options(velmo_warnings INTERFACE -fsanitize=fuzzer-no-link,address,undefined
                                                    -fno-omit-frame-pointer -fno-sanitize-recover=all)
    target_link_options(velmo_warnings INTERFACE -fsanitize=address,undefined)
endif()
