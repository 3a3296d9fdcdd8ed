# Installation: the layout of an Orvane root, /opt/orvane unless the prefix
# is given. Programs and their shared libraries share the program folder
# bin/, and every binary finds the libraries beside it through $ORIGIN.
#
#   <prefix>/bin       programs, libov_core.so, libovplatform.so
#   <prefix>/data      hash database
#   <prefix>/logs      every log and scan report
#   <prefix>/jobs      scheduled-job files
#   <prefix>/infected  quarantine records
#
# `orvane-setup --system` (or the package's postinst) finishes a system
# install: registry, starter database, menu entry, polkit action, service.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
    set(CMAKE_INSTALL_PREFIX "/opt/orvane" CACHE PATH "Installation root" FORCE)
endif()

# Every program and library of a release. A name whose target this build
# does not define (a program not built here, the Qt programs without Qt) is
# left out, so the list can name every deliverable.
set(OV_INSTALL_TARGETS
    ovplatform
    ov_core
    Orvane
    ovfilemsg
    ovrtsrv
    orvane-scan
    orvane-setup
    orvane-quarantine
    ovdb
    ovreg
    ovsc
    ovUpdate
)

set(OV_INSTALLED_TARGETS "")
foreach(target IN LISTS OV_INSTALL_TARGETS)
    if(TARGET ${target})
        list(APPEND OV_INSTALLED_TARGETS ${target})
        # Linked with their installed search path: the build tree is an
        # installation too, and the path CMake would give them for the build
        # ends in an empty entry, which the loader takes for the current folder.
        set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN" BUILD_WITH_INSTALL_RPATH ON)
        install(TARGETS ${target}
                RUNTIME DESTINATION bin
                LIBRARY DESTINATION bin)
    endif()
endforeach()

# The data folders, readable by root only: the quarantine holds live malware,
# the logs name the user's files.
foreach(folder data logs jobs infected)
    install(DIRECTORY DESTINATION ${folder}
            DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
endforeach()

# Builds what an installation holds, and nothing else (no tests).
add_custom_target(ov_installed_programs)
add_dependencies(ov_installed_programs ${OV_INSTALLED_TARGETS})
