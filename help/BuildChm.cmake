cmake_minimum_required(VERSION 3.25)

# Compiles one CHM help file from the UTF-8 pages in help/pages.
#
#   cmake -DPAGES_DIR=... -DWORK_DIR=... -DPAGES=a.html,b.html,... -DTITLE=...
#         -DOUTPUT=.../Name.chm -DCHMCMD=... -DICONV=... -P BuildChm.cmake
#
# PAGES is the order of the contents; its first page is the default topic.
# Viewers take the text of a CHM in the code page of its language (0x411:
# Japanese, code page 932), whatever a page's meta tag says, so every page,
# the contents, the index and the project are handed to chmcmd in CP932
# and the pages say so in their meta tag.

foreach(var PAGES_DIR WORK_DIR PAGES TITLE OUTPUT CHMCMD ICONV)
    if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
        message(FATAL_ERROR "BuildChm.cmake: ${var} is not set")
    endif()
endforeach()
string(REPLACE "," ";" PAGES "${PAGES}")
list(GET PAGES 0 default_topic)

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}/utf8")

# Writes TEXT to WORK_DIR/NAME in code page 932.
function(write_cp932 name text)
    set(utf8 "${WORK_DIR}/utf8/${name}")
    file(WRITE "${utf8}" "${text}")
    execute_process(COMMAND "${ICONV}" -f UTF-8 -t CP932 "${utf8}"
                    OUTPUT_FILE "${WORK_DIR}/${name}"
                    ERROR_VARIABLE err RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${name}: not representable in code page 932: ${err}")
    endif()
endfunction()

# HTML attribute text: the few characters that would end the value.
function(html_escape out text)
    string(REPLACE "&" "&amp;" text "${text}")
    string(REPLACE "\"" "&quot;" text "${text}")
    string(REPLACE "<" "&lt;" text "${text}")
    string(REPLACE ">" "&gt;" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

set(sitemap_head "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML//EN\">
<HTML>
<HEAD>
<meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">
</HEAD>
<BODY>
")
set(toc "${sitemap_head}<OBJECT type=\"text/site properties\">
<param name=\"ImageType\" value=\"Folder\">
</OBJECT>
<UL>
")
set(keyword_pages "")
foreach(page IN LISTS PAGES)
    file(READ "${PAGES_DIR}/${page}" html)
    if(NOT html MATCHES "<title>([^<]+)</title>")
        message(FATAL_ERROR "${page}: no <title>")
    endif()
    set(title "${CMAKE_MATCH_1}")
    if(NOT html MATCHES "charset=utf-8")
        message(FATAL_ERROR "${page}: the page must declare charset=utf-8")
    endif()
    string(REPLACE "charset=utf-8" "charset=Shift_JIS" html "${html}")
    # Viewers built on wxHTML (xchm) break lines only at white space, and
    # Japanese text has none: give them a place after each comma and stop.
    string(FIND "${html}" "<body>" body_at)
    if(body_at LESS 0)
        message(FATAL_ERROR "${page}: no <body>")
    endif()
    string(SUBSTRING "${html}" 0 ${body_at} head)
    string(SUBSTRING "${html}" ${body_at} -1 body)
    string(REPLACE "、" "、\n" body "${body}")
    string(REPLACE "。" "。\n" body "${body}")
    # Shift_JIS decoders read bytes 5C and 7E as yen sign and overline.
    string(REPLACE "\\" "&#92;" body "${body}")
    string(REPLACE "~" "&#126;" body "${body}")
    write_cp932("${page}" "${head}${body}")

    html_escape(name "${title}")
    string(APPEND toc "<LI><OBJECT type=\"text/sitemap\">
<param name=\"Name\" value=\"${name}\">
<param name=\"Local\" value=\"${page}\">
</OBJECT>
")
    # The index: every keyword of the page's keywords meta tag.
    if(html MATCHES "<meta name=\"keywords\" content=\"([^\"]*)\">")
        string(REPLACE "," ";" words "${CMAKE_MATCH_1}")
        foreach(word IN LISTS words)
            string(STRIP "${word}" word)
            if(NOT word STREQUAL "")
                string(SHA1 key "${word}")
                if(NOT DEFINED kw_${key})
                    set(kw_${key} "${word}")
                    list(APPEND keyword_keys ${key})
                endif()
                list(APPEND kw_pages_${key} "${page}|${title}")
            endif()
        endforeach()
    endif()
endforeach()
string(APPEND toc "</UL>
</BODY>
</HTML>
")
write_cp932(toc.hhc "${toc}")

# Index entries sorted by keyword, so that both files list them alike.
set(sorted "")
foreach(key IN LISTS keyword_keys)
    list(APPEND sorted "${kw_${key}}\t${key}")
endforeach()
list(SORT sorted)
set(index "${sitemap_head}<UL>
")
foreach(entry IN LISTS sorted)
    string(REGEX REPLACE "^.*\t" "" key "${entry}")
    html_escape(word "${kw_${key}}")
    string(APPEND index "<LI><OBJECT type=\"text/sitemap\">
<param name=\"Name\" value=\"${word}\">
")
    foreach(target IN LISTS kw_pages_${key})
        string(REPLACE "|" ";" parts "${target}")
        list(GET parts 0 file)
        list(GET parts 1 title)
        html_escape(title "${title}")
        string(APPEND index "<param name=\"Local\" value=\"${file}\">
")
    endforeach()
    string(APPEND index "</OBJECT>
")
endforeach()
string(APPEND index "</UL>
</BODY>
</HTML>
")
write_cp932(index.hhk "${index}")

# Full-text search stays off: chmcmd's indexer cuts words at spaces and
# punctuation, which Japanese text has none of, and it has crashed on
# multi-byte text.
list(JOIN PAGES "\n" file_list)
write_cp932(project.hhp "[OPTIONS]
Compatibility=1.1 or later
Compiled file=help.chm
Contents file=toc.hhc
Index file=index.hhk
Binary Index=No
Default topic=${default_topic}
Display compile progress=No
Full-text search=No
Language=0x411 Japanese
Title=${TITLE}

[FILES]
${file_list}
")

execute_process(COMMAND "${CHMCMD}" --no-html-scan project.hhp
                WORKING_DIRECTORY "${WORK_DIR}"
                OUTPUT_VARIABLE out ERROR_VARIABLE out RESULT_VARIABLE rc)
set(chm "${WORK_DIR}/help.chm")
if(EXISTS "${chm}")
    file(SIZE "${chm}" size)
else()
    set(size 0)
endif()
# chmcmd leaves an empty file behind when it crashes.
if(NOT rc EQUAL 0 OR size LESS 4)
    message(FATAL_ERROR "chmcmd failed (${rc}):\n${out}")
endif()
file(READ "${chm}" magic LIMIT 4 HEX)
if(NOT magic STREQUAL "49545346") # "ITSF"
    message(FATAL_ERROR "chmcmd wrote no CHM file:\n${out}")
endif()
file(COPY_FILE "${chm}" "${OUTPUT}")
