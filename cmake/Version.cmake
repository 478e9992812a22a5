# The project version as a header for the resource script (its version resource), and a check
# that the manifest carries the same version.
set(ORVANE_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/OrvaneVersion.h.in ${ORVANE_GENERATED_DIR}/OrvaneVersion.h
               @ONLY)
include_directories(${ORVANE_GENERATED_DIR})

foreach(manifest src/res/app.manifest src/cli/orvane-update.manifest)
    file(READ ${PROJECT_SOURCE_DIR}/${manifest} ORVANE_MANIFEST)
    if(NOT ORVANE_MANIFEST MATCHES "version=\"${PROJECT_VERSION}.0\"")
        message(FATAL_ERROR "${manifest} must name version ${PROJECT_VERSION}.0, the "
                            "project version")
    endif()
endforeach()

# windres writes no dependency file: the resource script is rebuilt with the header by hand.
function(orvane_resources_follow_version)
    set_property(SOURCE ${ORVANE_RESOURCE_SCRIPT} DIRECTORY ${ARGN} APPEND
                 PROPERTY OBJECT_DEPENDS ${ORVANE_GENERATED_DIR}/OrvaneVersion.h)
endfunction()
