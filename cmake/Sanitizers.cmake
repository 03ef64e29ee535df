# AddressSanitizer + UndefinedBehaviorSanitizer for the whole build; the fuzz targets need the
# libraries instrumented for coverage as well, so GC_FUZZ adds fuzzer-no-link everywhere.
if(GC_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()
if(GC_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "GC_FUZZ needs clang (CXX=clang++)")
    endif()
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()
