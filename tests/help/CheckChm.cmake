cmake_minimum_required(VERSION 3.25)

# Checks the two built help files from the outside, with chmls:
# each is a CHM file, opens on its own page, lists its contents in its own
# order with the pages' titles, and holds every page in code page 932 with a
# matching charset and title.
#
#   cmake -DHELP_DIR=... -DCHMLS=... -DICONV=... -DWORK_DIR=... -P CheckChm.cmake

foreach(var HELP_DIR CHMLS ICONV WORK_DIR)
    if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
        message(FATAL_ERROR "CheckChm.cmake: ${var} is not set")
    endif()
endforeach()

set(title_main.html "Lintraの画面")
set(title_join.html "会話に参加する")
set(title_post.html "発言する・内容を更新する")
set(title_autorefresh.html "内容の自動更新")
set(title_leave.html "退室して終了する")
set(title_display.html "表示の大きさと文字サイズ")
set(title_status.html "状態表示とメッセージの意味")
set(title_editor.html "接続先の設定")
set(title_pcipdat.html "接続先リスト（PCIP.dat）")
set(title_harrox.html "Harroxサーバーを動かす")

# What a reader must find on the pages, besides their titles.
set(text_join.html "「接続/参加」ボタンを押します")
set(text_autorefresh.html "10分で更新")
set(text_display.html "9、10、12、14、16、18、22")
set(text_status.html "接続先の設定をしてから「接続/参加」ボタンを押してください")
set(text_editor.html "接続先リストで選択された項目を削除してもよいですか？")
set(text_harrox.html "systemctl enable --now harrox")

set(failures 0)
macro(fail what)
    message(SEND_ERROR "${what}")
    math(EXPR failures "${failures} + 1")
endmacro()

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")

# Extracts NAME from the CHM into OUT; empty when it is not there.
function(extract chm name out)
    string(MAKE_C_IDENTIFIER "${name}" flat)
    get_filename_component(stem "${chm}" NAME_WE)
    string(MAKE_C_IDENTIFIER "${stem}" stem)
    set(path "${WORK_DIR}/${stem}_${flat}")
    file(REMOVE "${path}")
    execute_process(COMMAND "${CHMLS}" extract "${chm}" "${name}" "${path}"
                    OUTPUT_QUIET ERROR_QUIET)
    set(${out} "${path}" PARENT_SCOPE)
endfunction()

# Extracts NAME and reads it as UTF-8 text from code page 932.
function(extract_text chm name out)
    extract("${chm}" "${name}" path)
    set(text "")
    if(EXISTS "${path}")
        execute_process(COMMAND "${ICONV}" -f CP932 -t UTF-8 "${path}"
                        OUTPUT_VARIABLE text RESULT_VARIABLE rc ERROR_QUIET)
        if(NOT rc EQUAL 0)
            set(text "")
        endif()
    endif()
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(check_chm file default_topic)
    set(pages ${ARGN})
    set(chm "${HELP_DIR}/${file}")
    if(NOT EXISTS "${chm}")
        fail("${file}: not built")
        set(failures ${failures} PARENT_SCOPE)
        return()
    endif()
    file(READ "${chm}" magic LIMIT 4 HEX)
    if(NOT magic STREQUAL "49545346") # "ITSF"
        fail("${file}: no ITSF header")
    endif()

    execute_process(COMMAND "${CHMLS}" --no-page --name-only list "${chm}"
                    OUTPUT_VARIABLE listing RESULT_VARIABLE rc ERROR_QUIET)
    if(NOT rc EQUAL 0)
        fail("${file}: chmls cannot list it")
    endif()
    foreach(member "/toc.hhc" "/index.hhk" "/#SYSTEM")
        string(FIND "${listing}" "${member}\n" at)
        if(at LESS 0)
            fail("${file}: ${member} missing")
        endif()
    endforeach()

    # The default topic: the #SYSTEM entry of code 2, a 16-bit length
    # (the name and its NUL) and the name.
    extract("${chm}" "/#SYSTEM" system)
    if(EXISTS "${system}")
        file(READ "${system}" system_hex HEX)
        string(LENGTH "${default_topic}" n)
        math(EXPR n "${n} + 1")
        math(EXPR high "${n} / 16")
        math(EXPR low "${n} % 16")
        set(digits 0 1 2 3 4 5 6 7 8 9 a b c d e f)
        list(GET digits ${high} high)
        list(GET digits ${low} low)
        string(HEX "${default_topic}" name_hex)
        string(FIND "${system_hex}" "0200${high}${low}00${name_hex}00" at)
        if(at LESS 0)
            fail("${file}: default topic is not ${default_topic}")
        endif()
    else()
        fail("${file}: no #SYSTEM")
    endif()

    # The contents: every page, in this file's order, under its title.
    extract_text("${chm}" "/toc.hhc" toc)
    string(REGEX MATCHALL "<param name=\"Local\" value=\"[^\"]*\">" locals "${toc}")
    string(REGEX REPLACE "<param name=\"Local\" value=\"([^\"]*)\">" "\\1" locals "${locals}")
    if(NOT locals STREQUAL pages)
        fail("${file}: contents order is '${locals}', expected '${pages}'")
    endif()
    foreach(page IN LISTS pages)
        set(title "${title_${page}}")
        string(FIND "${toc}" "<param name=\"Name\" value=\"${title}\">" at)
        if(at LESS 0)
            fail("${file}: contents lack the title ${title}")
        endif()

        string(FIND "${listing}" "/${page}\n" at)
        if(at LESS 0)
            fail("${file}: /${page} missing")
            continue()
        endif()
        extract_text("${chm}" "/${page}" html)
        if(html STREQUAL "")
            fail("${file}: /${page} is not code page 932 text")
            continue()
        endif()
        string(FIND "${html}" "<title>${title}</title>" at)
        if(at LESS 0)
            fail("${file}: /${page} is not titled ${title}")
        endif()
        string(FIND "${html}" "charset=Shift_JIS" at)
        if(at LESS 0)
            fail("${file}: /${page} does not declare Shift_JIS")
        endif()
        if(DEFINED text_${page})
            # The build breaks lines after Japanese commas and stops.
            string(REPLACE "\n" "" flat "${html}")
            string(FIND "${flat}" "${text_${page}}" at)
            if(at LESS 0)
                fail("${file}: /${page} lacks '${text_${page}}'")
            endif()
        endif()
    endforeach()

    # The index leads to pages of this file.
    extract_text("${chm}" "/index.hhk" index)
    string(FIND "${index}" "<param name=\"Name\" value=\"PCIP.dat\">" at)
    if(at LESS 0)
        fail("${file}: the index lacks PCIP.dat")
    endif()
    set(failures ${failures} PARENT_SCOPE)
endfunction()

check_chm("Duvetta.chm" main.html
          main.html join.html post.html autorefresh.html leave.html display.html
          status.html editor.html pcipdat.html harrox.html)
check_chm("ドゥヴェッタ.chm" editor.html
          editor.html pcipdat.html main.html join.html post.html autorefresh.html
          leave.html display.html status.html harrox.html)

if(failures GREATER 0)
    message(FATAL_ERROR "${failures} help file check(s) failed")
endif()
message(STATUS "help files: both CHM files are whole")
