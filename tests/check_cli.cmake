# check_cli.cmake: exit codes, stdin, byte-exact output, options, -o and
# --partials of the mervalt command.
# Usage: cmake -DCLI=<mervalt> -DWORK=<scratch dir> -DDATA=<tests/data> -DVERSION=<x.y.z> -P check_cli.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
file(WRITE "${WORK}/hello.liquid" "Hi {{ name }}!")
file(WRITE "${WORK}/hello.json" "{\"name\": \"ann\"}")
file(WRITE "${WORK}/broken.liquid" "{{ name")
file(WRITE "${WORK}/empty.json" "")

include(${CMAKE_CURRENT_LIST_DIR}/cli_run.cmake)

run("renders template with data" 0 "Hi ann!" "" ARGS "${WORK}/hello.liquid" "${WORK}/hello.json")
run("without a data file there is no data" 0 "Hi !" "" ARGS "${WORK}/hello.liquid")
run("an empty data file is no data" 0 "Hi !" "" ARGS "${WORK}/hello.liquid" "${WORK}/empty.json")
run("template from standard input" 0 "Hi ann!" "" INPUT "${WORK}/hello.liquid" ARGS - "${WORK}/hello.json")
run("data from standard input" 0 "Hi ann!" "" INPUT "${WORK}/hello.json" ARGS "${WORK}/hello.liquid" -)
run("a template that does not parse" 1 "" "^[^\n]*broken\\.liquid:1:1: error: [^\n]*\n$"
    ARGS "${WORK}/broken.liquid" "${WORK}/hello.json")
run("a missing template file" 2 "" "nope\\.liquid" ARGS "${WORK}/nope.liquid")
run("a missing data file" 2 "" "nope\\.json" ARGS "${WORK}/hello.liquid" "${WORK}/nope.json")
run("both from standard input" 2 "" "standard input" ARGS - -)
run("no arguments" 2 "" "[Uu]sage" ARGS)
run("too many arguments" 2 "" "[Uu]sage" ARGS a b c)
run("unknown option" 2 "" "--frobnicate" ARGS --frobnicate)
run("help" 0 "*" "" ARGS --help)
run("short help" 0 "*" "" ARGS -h)

# Output bytes pass through unchanged: NUL, CR LF, bytes above 0x7f.
execute_process(COMMAND "${CLI}" "${DATA}/binary.liquid" "${DATA}/binary.json"
  OUTPUT_FILE "${WORK}/binary.out" RESULT_VARIABLE rc)
execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${WORK}/binary.out" "${DATA}/binary.expected"
  RESULT_VARIABLE same)
if(NOT rc EQUAL 0 OR NOT same EQUAL 0)
  message(SEND_ERROR "binary output: exit ${rc}, output differs from binary.expected: ${same}")
else()
  message(STATUS "ok: binary output")
endif()

# Options.
file(WRITE "${WORK}/-dash.liquid" "dash")
run("--version" 0 "mervalt ${VERSION}\n" "^$" ARGS --version)
run("-- ends the options" 0 "dash" "^$" ARGS -- -dash.liquid)
run("an option without its value" 2 "" "'-o' needs a value" ARGS hello.liquid -o)

# -o replaces the file only when the render succeeds, through a temporary
# file in the same folder that never stays behind.
run("-o writes the file instead of standard output" 0 "" "^$" ARGS -o out.txt hello.liquid hello.json)
file(READ "${WORK}/out.txt" written)
expect("-o wrote the result" written STREQUAL "Hi ann!")
run("-o and a failed render" 1 "" "broken" ARGS --output out.txt broken.liquid)
run("--output= and a failed render" 1 "" "broken" ARGS --output=fresh.txt broken.liquid)
file(READ "${WORK}/out.txt" kept)
file(GLOB leftovers "${WORK}/.out.txt*" "${WORK}/.fresh.txt*" "${WORK}/fresh.txt")
expect("a failed render leaves the old file and no other" kept STREQUAL "Hi ann!" AND NOT leftovers)
run("-o into a folder that does not exist" 2 "" "^mervalt: cannot write 'nowhere/out\\.txt': " ARGS
    -o nowhere/out.txt hello.liquid)

# --partials: every *.liquid file below the folder, named by its path.
file(WRITE "${WORK}/parts/card.liquid" "[card {{ card }}]")
file(WRITE "${WORK}/parts/emails/header.liquid" "<h1>{{ title }}</h1>")
file(WRITE "${WORK}/parts/notes.txt" "not a template")
file(WRITE "${WORK}/uses.liquid"
     "{% render 'emails/header', title: 'Hi' %}{% include 'card' with 'x' %}{% include 'notes' %}")
file(WRITE "${WORK}/own.json" "{\"templates\": {\"card\": \"(own {{ card }})\"}}")
run("--partials reads nested folders" 0 "<h1>Hi</h1>[card x]Liquid error (line 1): Could not find asset notes"
    "^$" ARGS --partials parts uses.liquid)
run("a name the data defines keeps the data's text" 0
    "<h1>Hi</h1>(own x)Liquid error (line 1): Could not find asset notes" "^$" ARGS --partials=parts uses.liquid own.json)
run("a partials folder that does not exist" 2 "" "^mervalt: cannot read the partials folder 'nope': " ARGS
    --partials nope uses.liquid)
file(MAKE_DIRECTORY "${WORK}/dangling")
file(CREATE_LINK "${WORK}/gone" "${WORK}/dangling/gone.liquid" SYMBOLIC)
run("a partial file that cannot be read" 2 "" "^mervalt: cannot read 'dangling/gone\\.liquid': " ARGS
    --partials dangling uses.liquid)
file(MAKE_DIRECTORY "${WORK}/binary")
file(COPY_FILE "${DATA}/binary.liquid" "${WORK}/binary/bytes.liquid")
run("a partial file that is not UTF-8" 2 "" "^mervalt: 'binary/bytes\\.liquid' is not UTF-8 text" ARGS
    --partials binary uses.liquid)
