# Builds the .deb with CPack, lists its contents (the install tree under /usr, with the man page,
# changelog and copyright Debian asks for) and has lintian check it at its default level.
# Arguments: BUILD_DIR, WORK_DIR, DATA_DIR, APP_ID, VERSION, PACKAGE, DPKG_DEB, LINTIAN.

file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CMAKE_CPACK_COMMAND} --config ${BUILD_DIR}/CPackConfig.cmake -G DEB -B ${WORK_DIR}
    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cpack failed:\n${out}")
endif()
file(GLOB packages ${WORK_DIR}/*.deb)
list(LENGTH packages count)
if(NOT count EQUAL 1)
    message(FATAL_ERROR "expected one .deb in ${WORK_DIR}, found: ${packages}")
endif()

execute_process(COMMAND ${DPKG_DEB} -c ${packages} RESULT_VARIABLE result OUTPUT_VARIABLE listing)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "dpkg-deb -c failed")
endif()
message(STATUS "${listing}")
foreach(expected
        ./usr/bin/EditorForBorvane5
        ./usr/${DATA_DIR}/SearchKey.txt
        ./usr/share/icons/hicolor/scalable/apps/EditorForBorvane5.svg
        ./usr/share/applications/EditorForBorvane5.desktop
        ./usr/share/metainfo/${APP_ID}.metainfo.xml
        ./usr/share/man/man1/EditorForBorvane5.1.gz
        ./usr/share/doc/${PACKAGE}/changelog.gz
        ./usr/share/doc/${PACKAGE}/copyright)
    string(FIND "${listing}" " ${expected}\n" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "the .deb lacks ${expected}")
    endif()
endforeach()

execute_process(COMMAND ${DPKG_DEB} -f ${packages} Package Version Depends OUTPUT_VARIABLE fields)
message(STATUS "${fields}")
if(NOT fields MATCHES "Package: ${PACKAGE}\n" OR NOT fields MATCHES "Version: ${VERSION}\n"
        OR NOT fields MATCHES "Depends:.*libqt6widgets6" OR NOT fields MATCHES "Depends:.*libzip4")
    message(FATAL_ERROR "the .deb's control fields: ${fields}")
endif()

# Any error or warning fails: lintian prints no tag for a clean package. (On standard error it may
# only say that it runs as root, as it does in a container.)
if(NOT LINTIAN)
    message(FATAL_ERROR "lintian is not installed (tools/setup.sh installs it)")
endif()
execute_process(COMMAND ${LINTIAN} ${packages} RESULT_VARIABLE result OUTPUT_VARIABLE tags ERROR_VARIABLE err)
if(NOT result EQUAL 0 OR NOT tags STREQUAL "")
    message(FATAL_ERROR "lintian ${packages}:\n${tags}${err}")
endif()
