# The 32-bit programs and simulated bridge library, built from the same sources with the i686
# toolchain into x86/ of this build (x86/bin/OrvaneUpdateUtility.exe). Only the 64-bit build
# runs here; the 32-bit one is checked statically, and its bridge library lets the 64-bit tests
# put a library of the other bitness beside the program.
option(ORVANE_BUILD_X86 "Also build the 32-bit program into x86/" ON)
set(ORVANE_X86_DIR ${CMAKE_BINARY_DIR}/x86)
if(ORVANE_BUILD_X86 AND CMAKE_SIZEOF_VOID_P EQUAL 8)
    include(ExternalProject)
    ExternalProject_Add(x86_build
        SOURCE_DIR ${PROJECT_SOURCE_DIR}
        BINARY_DIR ${ORVANE_X86_DIR}
        CMAKE_ARGS -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
                   -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-w64-i686.cmake
                   -DORVANE_BUILD_TESTS=OFF -DORVANE_BUILD_DEMO=OFF -DORVANE_BUILD_X86=OFF
        CMAKE_GENERATOR ${CMAKE_GENERATOR}
        INSTALL_COMMAND ""
        BUILD_ALWAYS ON
        BUILD_BYPRODUCTS ${ORVANE_X86_DIR}/bin/OrvaneUpdateUtility.exe
                         ${ORVANE_X86_DIR}/bin/orvane-update.exe
                         ${ORVANE_X86_DIR}/bin/CP210xManufacturing.dll)
endif()
