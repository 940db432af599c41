# Writes OUT, a header defining ZUV_GIT_INFO: the checkout's commit record as
# a Zuv block, or "none" outside a git checkout (or when NO_GIT is set).
# The header is replaced only when the text changes, so an unchanged
# checkout rebuilds nothing.

set(info "none")
if(NOT NO_GIT)
    execute_process(COMMAND git -C ${SRC} rev-parse HEAD
        OUTPUT_VARIABLE commit RESULT_VARIABLE rc
        OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(rc EQUAL 0)
        execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC LC_ALL=C
            git -C ${SRC} log -1 --format=%cd --date=format-local:%d-%b-%Y/%H:%M:%S
            OUTPUT_VARIABLE date OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        execute_process(COMMAND git -C ${SRC} rev-parse --abbrev-ref HEAD
            OUTPUT_VARIABLE branch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        execute_process(COMMAND git -C ${SRC} describe --tags --abbrev=0
            OUTPUT_VARIABLE tag RESULT_VARIABLE tag_rc
            OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        # Commits ahead of the last tag, or of the root without one.
        if(tag_rc EQUAL 0)
            set(tag_text "\"${tag}\"")
            set(range "${tag}..HEAD")
        else()
            set(tag_text "none")
            set(range "HEAD")
        endif()
        execute_process(COMMAND git -C ${SRC} rev-list --count ${range}
            OUTPUT_VARIABLE ahead OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        set(info "[commit: \"${commit}\" date: ${date} branch: \"${branch}\" tag: ${tag_text} ahead: ${ahead}]")
    endif()
endif()

file(WRITE ${OUT}.tmp "#define ZUV_GIT_INFO R\"~(${info})~\"\n")
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different ${OUT}.tmp ${OUT})
file(REMOVE ${OUT}.tmp)
if(ECHO)
    message("ZUV_GIT_INFO ${info}")
endif()
