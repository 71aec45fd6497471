# Included by the top-level CMakeLists.txt when VORNIK_FUZZ is on, before any target exists, so that the
# libraries are built with the fuzzer's coverage instrumentation and the sanitizers, like the targets.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "VORNIK_FUZZ needs clang: configure with CC=clang CXX=clang++")
endif()

set(VORNIK_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
add_compile_options(-fsanitize=fuzzer-no-link ${VORNIK_SANITIZERS} -g)
add_link_options(${VORNIK_SANITIZERS})
