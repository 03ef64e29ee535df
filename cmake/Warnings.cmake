# Warnings for our own targets; third-party headers come in as system includes.
add_library(gc_warnings INTERFACE)
target_compile_options(gc_warnings INTERFACE -Wall -Wextra -Wpedantic
                       $<$<BOOL:${GC_WERROR}>:-Werror>)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # GCC 12 reports false positives through std::variant and inlined memcpy at -O2.
    target_compile_options(gc_warnings INTERFACE -Wshadow=local -Wno-maybe-uninitialized
                           -Wno-stringop-overflow)
else()
    target_compile_options(gc_warnings INTERFACE -Wshadow-uncaptured-local)
endif()
