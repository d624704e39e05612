# Installs the build into a fresh folder and checks the tree a desktop expects: the program
# in bin/, the keyword list in the data folder, the icon, a valid desktop entry and metainfo, the
# man page; and one version in the program and the metainfo.
# Arguments: BUILD_DIR, WORK_DIR, DATA_DIR, APP_ID, VERSION, DESKTOP_VALIDATE, APPSTREAMCLI.

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
    RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

set(desktop ${prefix}/share/applications/EditorForBorvane5.desktop)
set(metainfo ${prefix}/share/metainfo/${APP_ID}.metainfo.xml)
foreach(expected
        bin/EditorForBorvane5
        ${DATA_DIR}/SearchKey.txt
        ${DATA_DIR}/PrinterProfiles.json
        share/icons/hicolor/scalable/apps/EditorForBorvane5.svg
        share/applications/EditorForBorvane5.desktop
        share/mime/packages/EditorForBorvane5-bgcode.xml
        share/mime/packages/EditorForBorvane5-gcode3mf.xml
        share/metainfo/${APP_ID}.metainfo.xml
        share/man/man1/EditorForBorvane5.1.gz)
    if(NOT EXISTS ${prefix}/${expected})
        message(FATAL_ERROR "missing from the install tree: ${expected}")
    endif()
endforeach()
if(EXISTS ${prefix}/bin/TempFile)
    message(FATAL_ERROR "the keyword list belongs in the data folder, not in bin/TempFile")
endif()

file(STRINGS ${desktop} entry)
foreach(line "Exec=EditorForBorvane5 %f" "Icon=EditorForBorvane5" "MimeType=text/x.gcode;text/x-gcode;text/x-gcode-gx;application/x-bgcode;application/x-gcode-3mf;")
    list(FIND entry "${line}" found)
    if(found EQUAL -1)
        message(FATAL_ERROR "the desktop entry lacks the line ${line}")
    endif()
endforeach()

execute_process(COMMAND ${DESKTOP_VALIDATE} ${desktop} RESULT_VARIABLE result
    OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT result EQUAL 0 OR NOT out STREQUAL "")
    message(FATAL_ERROR "desktop-file-validate ${desktop}:\n${out}")
endif()
execute_process(COMMAND ${APPSTREAMCLI} validate --no-net ${metainfo} RESULT_VARIABLE result
    OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "appstreamcli validate ${metainfo}:\n${out}")
endif()
file(READ ${metainfo} text)
string(FIND "${text}" "<release version=\"${VERSION}\"" at)
if(at EQUAL -1)
    message(FATAL_ERROR "the metainfo's release is not ${VERSION}:\n${text}")
endif()

# The man page (gzipped beside its plain text in the build) lists every option of the help.
file(READ ${BUILD_DIR}/EditorForBorvane5.1 page)
foreach(expected ".TH EDITORFORBORVANE5 1 " "EditorForBorvane5 ${VERSION}" ".SH SYNOPSIS" ".SH OPTIONS"
        "\\fB\\-\\-height <H>\\fR" "\\fB\\-o, \\-\\-output <OUT>\\fR" ".SH ARGUMENTS" "\\fBFILE\\fR")
    string(FIND "${page}" "${expected}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "the man page lacks ${expected}:\n${page}")
    endif()
endforeach()

# The installed program runs without a display in batch mode.
execute_process(COMMAND ${prefix}/bin/EditorForBorvane5 --version RESULT_VARIABLE result
    OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT result EQUAL 0 OR NOT out STREQUAL "EditorForBorvane5 ${VERSION}\n")
    message(FATAL_ERROR "installed program --version: ${result} ${out} ${err}")
endif()
