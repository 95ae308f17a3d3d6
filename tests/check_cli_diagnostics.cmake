# check_cli_diagnostics.cmake: what the mervalt command says on standard error
# when a template does not parse, a render goes beyond a limit, or the data
# is not readable JSON.
# Usage: cmake -DCLI=<mervalt> -DWORK=<scratch dir> -P check_cli_diagnostics.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
include(${CMAKE_CURRENT_LIST_DIR}/cli_run.cmake)

# Templates that do not parse: FILE:LINE:COLUMN: error: MESSAGE, exit 1, no output.
file(WRITE "${WORK}/page.liquid" "Hi\n{% if a %}\n  {% endfor %}\n")
file(WRITE "${WORK}/typo.liquid" "{% endfo %}")
file(WRITE "${WORK}/open.liquid" "x\n  {{ name")
file(WRITE "${WORK}/comma.liquid" "{% if a and , %}{% endif %}")
run("a block closed by another end tag" 1 ""
    "^page\\.liquid:3:6: error: 'endfor' does not close the open 'if' \\(opened at 2:1\\)\n$" ARGS page.liquid)
run("an unknown tag" 1 "" "^typo\\.liquid:1:4: error: unknown tag 'endfo'\n$" ARGS typo.liquid)
run("an output never closed" 1 "" "^open\\.liquid:2:3: error: '{{' is never closed\n$" ARGS open.liquid)
run("a stray comma" 1 "" "^comma\\.liquid:1:13: error: unexpected ',' in expression\n$" ARGS comma.liquid)
run("a template from standard input" 1 "" "^<stdin>:1:4: error: unknown tag 'endfo'\n$"
    INPUT "${WORK}/typo.liquid" ARGS -)

# Partials name themselves: from the data by name, from a file by its path.
file(WRITE "${WORK}/uses.liquid" "{% include 'card' %}")
file(WRITE "${WORK}/partial.json" "{\"templates\": {\"card\": \"ok\\n{% endfo %}\"}}")
file(WRITE "${WORK}/parts/card.liquid" "{% for x in y %}\n{{ x")
run("a partial from the data" 1 "" "^uses\\.liquid: in partial 'card' 2:4: error: unknown tag 'endfo'\n$"
    ARGS uses.liquid partial.json)
run("a partial from a file" 1 "" "^parts/card\\.liquid:2:1: error: '{{' is never closed \\(partial 'card' of uses\\.liquid\\)\n$"
    ARGS --partials parts uses.liquid)

# Render limits and memory: mervalt: FILE: what ran out.
string(REPEAT "x" 1048576 mebibyte)
string(REPEAT "y" 3000 short)
file(WRITE "${WORK}/big.json" "{\"big\": \"${mebibyte}\", \"short\": \"${short}\", \"templates\": {\"self\": \"{% include 'self' %}\"}}")
file(WRITE "${WORK}/self.liquid" "{% include 'self' %}")
file(WRITE "${WORK}/loop.liquid" "{% for i in (1..10000001) %}{% endfor %}")
file(WRITE "${WORK}/output.liquid" "{% for i in (1..1100) %}{{ big }}{% endfor %}")
file(WRITE "${WORK}/memory.liquid" "{{ short | replace: '', big }}")
file(WRITE "${WORK}/range.liquid" "{{ (1..100000000) | size }}")
file(WRITE "${WORK}/work.liquid" "{% for i in (1..10000000) %}{{ i }}{{ i }}{% endfor %}")
run("nesting" 1 "" "^mervalt: self\\.liquid: rendering nests deeper than 100 levels \\(blocks, include and render\\)\n$"
    ARGS self.liquid big.json)
run("loop iterations" 1 "" "^mervalt: loop\\.liquid: more than 10,000,000 loop iterations and inclusions\n$"
    ARGS loop.liquid)
run("work" 1 "" "^mervalt: work\\.liquid: more than 10,000,000 units of work \\(10,000,000 and 4 per byte of data\\)\n$"
    ARGS work.liquid)
set(memory_bound "\\(64 MiB and 32 bytes per byte of template and data, at most 2 GiB\\)")
run("output size" 1 "" "^mervalt: output\\.liquid: rendering would hold more than 100,763,008 bytes of memory ${memory_bound}\n$"
    ARGS output.liquid big.json)
run("memory limit" 1 "" "^mervalt: memory\\.liquid: rendering would hold more than 100,762,528 bytes of memory ${memory_bound}\n$"
    ARGS memory.liquid big.json)
run("--max-output" 1 "" "^mervalt: output\\.liquid: the output would be larger than 3 MiB\n$"
    ARGS --max-output 3M output.liquid big.json)
run("--max-work" 1 "" "^mervalt: work\\.liquid: more than 1,000 units of work\n$" ARGS --max-work=1000 work.liquid)
run("--max-memory" 1 "" "^mervalt: memory\\.liquid: rendering would hold more than 2 MiB of memory\n$"
    ARGS --max-memory 2M memory.liquid big.json)
run("a bad --max-work" 2 "" "^mervalt: option '--max-work' needs a positive number, not '1k'\n"
    ARGS --max-work 1k work.liquid)
run("a huge range" 1 "" "^mervalt: range\\.liquid: rendering would hold more than 67,109,728 bytes of memory ${memory_bound}\n$"
    ARGS range.liquid)

# Data that is not readable JSON: a warning and no data, or with --strict-data an error.
file(WRITE "${WORK}/hello.liquid" "Hi {{ name }}!")
file(WRITE "${WORK}/comma.json" "{\"name\": \"ann\",\n \"tags\": [1, 2,]}")
file(WRITE "${WORK}/twice.json" "{\"name\": \"ann\", \"name\": \"bob\"}")
string(REPEAT "[" 129 opening)
string(REPEAT "]" 129 closing)
file(WRITE "${WORK}/deep.json" "{\"name\": \"ann\", \"deep\": ${opening}${closing}}")
run("a trailing comma" 0 "Hi !" "^comma\\.json:2:15: warning: trailing comma before '\\]'; rendering without data\n$"
    ARGS hello.liquid comma.json)
run("--strict-data" 2 "" "^comma\\.json:2:15: error: trailing comma before '\\]'\n$"
    ARGS --strict-data hello.liquid comma.json)
run("a repeated key" 0 "Hi !" "^twice\\.json:1:17: warning: key \"name\" repeated within one object; rendering without data\n$"
    ARGS hello.liquid twice.json)
run("nesting too deep" 0 "Hi !" "^deep\\.json:1:152: warning: nesting deeper than 128 levels; rendering without data\n$"
    ARGS hello.liquid deep.json)
