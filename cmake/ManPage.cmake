# Writes the man page from the program's own --help, so that the page and the help cannot drift
# apart, and gzips it as Debian ships man pages (-n: no name or time stamp in the archive).
# Arguments: PROGRAM, NAME, VERSION, DATE, SUMMARY, OUTPUT (the page; OUTPUT.gz is written too), GZIP.

execute_process(COMMAND ${PROGRAM} --help RESULT_VARIABLE result OUTPUT_VARIABLE help ERROR_VARIABLE err)
if(NOT result EQUAL 0 OR help STREQUAL "")
    message(FATAL_ERROR "${PROGRAM} --help: ${result} ${err}")
endif()

# roff: a backslash is written \e, a minus \-, and a line may not start with a control character.
function(roff text out)
    string(REPLACE "\\" "\\e" text "${text}")
    string(REPLACE "-" "\\-" text "${text}")
    if(text MATCHES "^[.']")
        set(text "\\&${text}")
    endif()
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

string(TOUPPER "${NAME}" title)
roff("${NAME}" name)
roff("${SUMMARY}" summary)
set(page ".TH ${title} 1 \"${DATE}\" \"${NAME} ${VERSION}\" \"User Commands\"\n")
string(APPEND page ".SH NAME\n${name} \\- ${summary}\n")

# The help's parts: "Usage: ..." and the description up to the first blank line, then lists
# ("Options:", "Arguments:") of items "  -x, --long <V>   text" whose text may go on in lines
# indented to the text's column. Read line by line, without CMake lists, which would take the
# help's brackets and semicolons for list syntax.
set(rest "${help}")
set(part usage)
while(NOT rest STREQUAL "")
    string(FIND "${rest}" "\n" end)
    if(end EQUAL -1)
        set(line "${rest}")
        set(rest "")
    else()
        string(SUBSTRING "${rest}" 0 ${end} line)
        math(EXPR next "${end} + 1")
        string(SUBSTRING "${rest}" ${next} -1 rest)
    endif()

    if(line MATCHES "^Usage: ([^ ]+) (.*)$")
        roff("${CMAKE_MATCH_2}" synopsis)
        string(APPEND page ".SH SYNOPSIS\n.B ${name}\n${synopsis}\n.SH DESCRIPTION\n")
        set(part description)
    elseif(line STREQUAL "")
        if(part STREQUAL "description")
            set(part between)
        endif()
    elseif(line MATCHES "^([A-Za-z ]+):$")
        string(TOUPPER "${CMAKE_MATCH_1}" heading)
        string(APPEND page ".SH ${heading}\n")
        set(part list)
    elseif(part STREQUAL "list" AND line MATCHES "^  ([^ ].*[^ ]|[^ ])  +([^ ].*)$")
        roff("${CMAKE_MATCH_1}" item)
        roff("${CMAKE_MATCH_2}" text)
        string(APPEND page ".TP\n\\fB${item}\\fR\n${text}\n")
    else()
        string(STRIP "${line}" line)
        roff("${line}" text)
        if(part STREQUAL "description" AND NOT page MATCHES "DESCRIPTION\n$")
            string(APPEND page ".PP\n") # each line of the description is a paragraph of its own
        endif()
        string(APPEND page "${text}\n")
    endif()
endwhile()

file(WRITE ${OUTPUT} "${page}")
execute_process(COMMAND ${GZIP} -9nkf ${OUTPUT} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${GZIP} ${OUTPUT}: ${result}")
endif()
