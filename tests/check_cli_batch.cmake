# check_cli_batch.cmake: mervalt --each: output, order, failures, -o names, --partials and progress.
# Usage: cmake -DCLI=<mervalt> -DWORK=<scratch dir> -P check_cli_batch.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
include(${CMAKE_CURRENT_LIST_DIR}/cli_run.cmake)

# expect_exit(<name> <exit> <want exit> <text> <regex>): an exit status and a
# text that matches (expect() would read the regex's escapes a second time).
function(expect_exit name rc want text regex)
  set(good FALSE)
  if(rc EQUAL want AND text MATCHES "${regex}")
    set(good TRUE)
  endif()
  expect("${name}" good)
endfunction()

file(WRITE "${WORK}/page.liquid" [=[{{ name }}|{{ n | plus: 1 }}{% if deep %}{% include 'self' %}{% endif %}
]=])
# Blank lines and a CR LF line end, an unreadable line, one beyond a render
# limit, a last line without its line feed.
set(good1 [=[{"name": "ann", "n": 1}]=])
set(good3 [=[{"name": "bob", "n": 2}]=])
set(good7 [=[["not", "an", "object"]]=])
set(good8 [=[{"name": "eve", "n": 5}]=])
set(comma4 [=[{"name": "cy", "n": 3,}]=])
set(deep5 [=[{"name": "di", "deep": true, "templates": {"self": "{% include 'self' %}"}}]=])
file(WRITE "${WORK}/records.ndjson" "${good1}\n\n${good3}\r\n${comma4}\n${deep5}\n  \n${good7}\n${good8}")
set(failures "records\\.ndjson:4:22: error: trailing comma before '}'\nrecords\\.ndjson:5: error: rendering nests deeper than 100 levels \\(blocks, include and render\\)\n")

# Each good line rendered on its own, as DATA: what --each must write.
file(WRITE "${WORK}/expected.txt" "")
foreach(line IN ITEMS "${good1}" "${good3}" "${good7}" "${good8}")
  file(WRITE "${WORK}/line.json" "${line}")
  execute_process(COMMAND "${CLI}" page.liquid line.json WORKING_DIRECTORY "${WORK}" OUTPUT_VARIABLE single)
  file(APPEND "${WORK}/expected.txt" "${single}")
endforeach()

foreach(jobs 1 3)
  execute_process(COMMAND "${CLI}" --each records.ndjson -j ${jobs} page.liquid WORKING_DIRECTORY "${WORK}"
    OUTPUT_FILE "${WORK}/each.txt" ERROR_VARIABLE err RESULT_VARIABLE rc)
  execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${WORK}/each.txt" "${WORK}/expected.txt"
    RESULT_VARIABLE differs)
  expect("-j ${jobs}: the output of every good record, as single renders write it" NOT differs)
  expect_exit("-j ${jobs}: exit 1, each failure by its line, then the summary" ${rc} 1 "${err}"
              "^${failures}mervalt: 4 of 6 records rendered, 2 failed\n$")
endforeach()

# Many batches (of about 128 KiB) on several threads: the same bytes and
# messages as one thread.
string(REPEAT "-" 200 pad)
set(many "")
foreach(i RANGE 1 3000)
  if(i EQUAL 1234 OR i EQUAL 2999)
    string(APPEND many "{\"name\": \"r${i}\",\n")
  else()
    string(APPEND many "{\"name\": \"r${i}\", \"n\": ${i}, \"pad\": \"${pad}\"}\n")
  endif()
endforeach()
file(WRITE "${WORK}/many.ndjson" "${many}")
foreach(jobs 1 2 4)
  execute_process(COMMAND "${CLI}" --each many.ndjson -j ${jobs} page.liquid WORKING_DIRECTORY "${WORK}"
    OUTPUT_FILE "${WORK}/many-${jobs}.txt" ERROR_FILE "${WORK}/many-${jobs}.err" RESULT_VARIABLE rc)
  expect("3,000 records on ${jobs} threads fail two" rc EQUAL 1)
endforeach()
foreach(jobs 2 4)
  foreach(stream txt err)
    execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${WORK}/many-1.${stream}" "${WORK}/many-${jobs}.${stream}"
      RESULT_VARIABLE differs)
    expect("3,000 records: ${jobs} threads write the .${stream} of one" NOT differs)
  endforeach()
endforeach()
file(READ "${WORK}/many-1.err" err)
expect_exit("3,000 records: the failures and the summary" 1 1 "${err}"
       "^many\\.ndjson:1234:[0-9]+: error: [^\n]*\nmany\\.ndjson:2999:[0-9]+: error: [^\n]*\nmervalt: 2,998 of 3,000 records rendered, 2 failed\n$")

# Every record rendered: exit 0. Standard input as RECORDS, --partials
# compiled with the template, the record's own store first.
file(WRITE "${WORK}/parts/card.liquid" "[card {{ name }}]")
file(WRITE "${WORK}/badparts/card.liquid" "ok\n{{ name")
file(WRITE "${WORK}/uses.liquid" "{% include 'card' %};")
file(WRITE "${WORK}/cards.ndjson" "{\"name\": \"ann\"}\n{\"name\": \"bob\", \"templates\": {\"card\": \"(own)\"}}\n")
run("--partials, and RECORDS from standard input" 0 "[card ann];(own);" "^mervalt: 2 of 2 records rendered, 0 failed\n$"
    INPUT "${WORK}/cards.ndjson" ARGS --each - --partials parts uses.liquid)
run("a partial file that does not parse, before any record" 1 ""
    "^badparts/card\\.liquid:2:1: error: '{{' is never closed \\(partial 'card' of uses\\.liquid\\)\n$"
    ARGS --each cards.ndjson --partials badparts --jobs=2 uses.liquid)
file(WRITE "${WORK}/broken.liquid" "{{ name")
run("a template that does not parse, before any record" 1 "" "^broken\\.liquid:1:1: error: [^\n]*\n$"
    ARGS --each cards.ndjson broken.liquid)
run("-j without --each" 2 "" "go with --each" ARGS -j 2 page.liquid)
run("-j 0" 2 "" "'-j' needs a number of threads from 1 to 256, not '0'" ARGS --each cards.ndjson -j 0 page.liquid)
run("DATA with --each" 2 "" "[Uu]sage" ARGS --each cards.ndjson page.liquid cards.ndjson)
run("-o without {{ or {%" 2 "" "-o takes a pattern with" ARGS --each cards.ndjson -o same.html page.liquid)

# -o: each record's file inside the folder before the pattern's first {{.
file(MAKE_DIRECTORY "${WORK}/elsewhere" "${WORK}/out")
file(CREATE_LINK "../elsewhere" "${WORK}/out/link" SYMBOLIC)
file(WRITE "${WORK}/named.ndjson" [=[{"path": "a", "name": "ann"}
{"path": "sub/deep/b", "name": "bob"}
{"path": "a", "name": "again"}
{"path": "../escape", "name": "dots"}
{"path": "link/c", "name": "through a link"}
{"path": "fine", "deep": true, "templates": {"self": "{% include 'self' %}"}}
]=])
set(refused "^named\\.ndjson:3: error: refusing to write 'out/a\\.txt': line 1 wrote it
named\\.ndjson:4: error: refusing to write 'out/\\.\\./escape\\.txt': the name has a '\\.\\.' part
named\\.ndjson:5: error: refusing to write 'out/link/c\\.txt': 'out/link' leads outside 'out/'
named\\.ndjson:6: error: rendering nests deeper than [^\n]*
mervalt: 2 of 6 records rendered, 4 failed\n$")
run("-o: names refused, records failed" 1 "" "${refused}" ARGS --each named.ndjson -o "out/{{ path }}.txt" page.liquid)
file(READ "${WORK}/out/a.txt" a)
file(READ "${WORK}/out/sub/deep/b.txt" b)
file(GLOB strays "${WORK}/elsewhere/*" "${WORK}/escape*" "${WORK}/out/.*" "${WORK}/out/fine*")
expect("-o: the files written, folders made, nothing else" a STREQUAL "ann|1\n" AND b STREQUAL "bob|1\n" AND NOT strays)
file(WRITE "${WORK}/bare.ndjson" "{\"path\": \"\"}\n{\"path\": \"${WORK}/abs.txt\"}\n{\"path\": \"dir/\"}\n")
run("-o: empty, absolute and folder names" 1 "" "^bare\\.ndjson:1: error: refusing to write '': the name is empty
bare\\.ndjson:2: error: refusing to write '[^']*/abs\\.txt': the name is absolute
bare\\.ndjson:3: error: refusing to write 'dir/': the name is a folder's
mervalt: 0 of 3 records rendered, 3 failed\n$" ARGS --each bare.ndjson -o "{{ path }}" page.liquid)

# The progress line: drawn on a terminal (a pseudo-terminal from script),
# not elsewhere unless asked for, never with --no-progress.
function(progress name regex)
  string(REPLACE ";" " " command "${ARGN}")
  execute_process(COMMAND script -q -e -c "${command} > progress.out" /dev/null WORKING_DIRECTORY "${WORK}"
    INPUT_FILE /dev/null OUTPUT_VARIABLE terminal RESULT_VARIABLE rc)
  expect_exit("${name}" ${rc} 0 "${terminal}" "${regex}")
endfunction()
string(ASCII 27 esc)
set(redraw "\r${esc}\\[K")
progress("progress on a terminal"
  "${redraw}mervalt: 2 of 2 records[^\r]*${redraw}mervalt: 2 of 2 records rendered, 0 failed\r?\n$" "${CLI}" --each cards.ndjson uses.liquid)
progress("--no-progress on a terminal" "^mervalt: 2 of 2 records rendered, 0 failed\r?\n$"
  "${CLI}" --each cards.ndjson --no-progress uses.liquid)
run("no progress elsewhere" 0 "*" "^mervalt: 2 of 2 records rendered, 0 failed\n$" ARGS --each cards.ndjson uses.liquid)
run("--progress elsewhere" 0 "*" "${redraw}mervalt: 2 of 2 records rendered, 0 failed\n$"
    ARGS --each cards.ndjson --progress uses.liquid)
