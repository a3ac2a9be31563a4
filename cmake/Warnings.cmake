# Project-wide compile settings, attached to targets through interface libraries
# instead of global flags.

add_library(lorvant_warnings INTERFACE)
add_library(lorvant::warnings ALIAS lorvant_warnings)
target_compile_options(
  lorvant_warnings
  INTERFACE -Wall
            -Wextra
            -Wpedantic
            -Wshadow
            -Wconversion
            -Wimplicit-fallthrough
            -Wundef
            -Wpointer-arith
            -Wcast-align
            -Wformat=2
            -Wnon-virtual-dtor
            $<$<BOOL:${LORVANT_WERROR}>:-Werror>)

add_library(lorvant_sanitize INTERFACE)
add_library(lorvant::sanitize ALIAS lorvant_sanitize)
if(LORVANT_SANITIZE)
  target_compile_options(lorvant_sanitize INTERFACE -fsanitize=address,undefined
                                                    -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(lorvant_sanitize INTERFACE -fsanitize=address,undefined)
endif()
if(LORVANT_BUILD_FUZZERS)
  # Coverage for the fuzzers in every object they link, not only their own.
  target_compile_options(lorvant_sanitize INTERFACE -fsanitize=fuzzer-no-link)
endif()
