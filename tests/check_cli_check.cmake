# check_cli_check.cmake: `mervalt check`: findings as lines and as JSON, exit
# statuses, --disable, --fail-on, --list-variables, partials from files and
# from the data, and a template file named check.
# Usage: cmake -DCLI=<mervalt> -DWORK=<scratch dir> -P check_cli_check.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
include(${CMAKE_CURRENT_LIST_DIR}/cli_run.cmake)

file(WRITE "${WORK}/clean.liquid" "{% for p in products %}{{ p.title | upcase }}{% endfor %}")
file(WRITE "${WORK}/page.liquid" "{{ shop.nmae | upcsae }}\n{% include 'card' %}{% render 'crad' %}")
file(WRITE "${WORK}/parts/card.liquid" "{% assign unused = 1 %}")
file(WRITE "${WORK}/data.json" "{\"shop\": {\"name\": \"S\"}, \"products\": [], \"templates\": {\"inline\": \"{{ x | nope }}\"}}")
file(WRITE "${WORK}/store.liquid" "{% include 'inline' %}")
file(WRITE "${WORK}/broken.liquid" "{{ a")
file(WRITE "${WORK}/typo.liquid" "{{ shp.name }}")
file(WRITE "${WORK}/check" "{{ a | append }}")
file(WRITE "${WORK}/bad.json" "{\"a\": 1,}")

run("a clean template" 0 "" "" ARGS check --data data.json clean.liquid)
set(filter_line "page.liquid:1:16: warning: unknown filter 'upcsae', which passes its input through; did you mean 'upcase'? [unknown-filter]")
set(missing_line "page.liquid:2:31: warning: no partial named 'crad': the tag writes 'Liquid error (line 1): Could not find asset crad'; did you mean 'card'? [missing-partial]")
set(unused_line "parts/card.liquid:1:1: warning: 'unused' is assigned here and never read afterwards [unused-assign] (partial 'card' of page.liquid)")
run("findings in file order, a partial under its own file" 1 "${filter_line}\n${missing_line}\n${unused_line}\n" ""
    ARGS check --partials parts page.liquid)
run("--disable silences codes" 0 "" "" ARGS check --disable unknown-filter,missing-partial,unused-assign --partials parts page.liquid)
run("--fail-on error ignores warnings" 0 "*" "" ARGS check --fail-on error --partials parts page.liquid)
run("syntax is an error" 1 "broken.liquid:1:1: error: '{{' is never closed [syntax]\n" "" ARGS check --fail-on error broken.liquid)
run("a partial from the data is named in the template's file" 1
    "store.liquid: in partial 'inline' 1:8: warning: unknown filter 'nope', which passes its input through [unknown-filter]\n" ""
    ARGS check --disable undefined-variable --data data.json store.liquid)
run("undefined names only with data" 1 "*" "" ARGS check --data data.json page.liquid)
run("undefined-variable with the data's names" 1
    "typo.liquid:1:4: warning: 'shp' is not defined here: nothing assigns it before this and the data has no 'shp'; did you mean 'shop'? [undefined-variable]\n" ""
    ARGS check --data data.json clean.liquid typo.liquid)
run("a template file named check" 1 "./check:1:8: warning: 'append' takes 1 argument, given 0 [filter-arguments]\n" "" ARGS check ./check)
run("JSON findings" 1
    "[{\"file\":\"check\",\"line\":1,\"column\":8,\"severity\":\"warning\",\"code\":\"filter-arguments\",\"message\":\"'append' takes 1 argument, given 0\"}]\n"
    "" ARGS check --format json check)
run("the data paths a template reads" 0 "products\tclean.liquid:1:13\nproducts[].title\tclean.liquid:1:27\n" ""
    ARGS check --list-variables clean.liquid)
run("the data paths as JSON" 0
    "[{\"file\":\"clean.liquid\",\"path\":\"products\",\"line\":1,\"column\":13},{\"file\":\"clean.liquid\",\"path\":\"products[].title\",\"line\":1,\"column\":27}]\n"
    "" ARGS check --list-variables --format=json clean.liquid)
run("an unknown code" 2 "" "unknown code 'nope' for --disable" ARGS check --disable nope clean.liquid)
run("an unknown option" 2 "" "unknown option '--strict'" ARGS check --strict clean.liquid)
run("no template" 2 "" "usage: mervalt check" ARGS check)
run("a template that cannot be read" 2 "" "cannot read 'missing.liquid'" ARGS check missing.liquid)
run("data that is not readable JSON" 2 "" "^bad\\.json:1:8: error: trailing comma before '}'\n" ARGS check --data bad.json clean.liquid)
run("help" 0 "*" "" ARGS check --help)
