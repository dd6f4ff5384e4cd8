# Compiler settings shared by every target of ours: linked as an INTERFACE target so nothing
# edits global flags.
add_library(velmo_warnings INTERFACE)
target_compile_features(velmo_warnings INTERFACE cxx_std_20)
target_compile_options(velmo_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                                -Wno-sign-conversion)
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
