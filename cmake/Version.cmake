# The project version as a header for the resource script (its version resource), and a check
# that the manifest carries the same version.
set(ORVANE_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/OrvaneVersion.h.in ${ORVANE_GENERATED_DIR}/OrvaneVersion.h
               @ONLY)
include_directories(${ORVANE_GENERATED_DIR})

file(READ ${PROJECT_SOURCE_DIR}/src/res/app.manifest ORVANE_MANIFEST)
if(NOT ORVANE_MANIFEST MATCHES "version=\"${PROJECT_VERSION}.0\"")
    message(FATAL_ERROR "src/res/app.manifest must name version ${PROJECT_VERSION}.0, the "
                        "project version")
endif()

# windres writes no dependency file: the resource script is rebuilt with the header by hand.
function(orvane_resources_follow_version)
    set_property(SOURCE ${ORVANE_RESOURCE_SCRIPT} DIRECTORY ${ARGN} APPEND
                 PROPERTY OBJECT_DEPENDS ${ORVANE_GENERATED_DIR}/OrvaneVersion.h)
endfunction()
