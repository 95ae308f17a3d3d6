# gen_records.awk: N product records of a few hundred bytes, one JSON document a line.
# Usage: awk -v n=100000 -f gen_records.awk > records.ndjson
BEGIN {
  srand(7)
  split("red green blue black white grey", colours, " ")
  split("S M L XL", sizes, " ")
  for (i = 1; i <= n; i++) {
    colour = colours[int(rand() * 6) + 1]
    printf "{\"id\":%d,\"name\":\"Mug <%s> No. %d\",\"price\":%.2f,", i, colour, i, 3 + rand() * 40
    if (i % 3 == 0) printf "\"was\":%.2f,", 45 + rand() * 10
    printf "\"stock\":%d,\"description\":\"A %s stoneware mug that holds a large coffee, glazed inside and out, safe in the dishwasher and the microwave.\",", int(rand() * 4), colour
    printf "\"tags\":[\"mug\",\"%s\",\"kitchen\"],\"variants\":[", colour
    for (v = 1; v <= 3; v++) printf "%s{\"sku\":\"M-%d-%d\",\"size\":\"%s\",\"stock\":%d}", (v > 1 ? "," : ""), i, v, sizes[v], int(rand() * 3)
    printf "]}\n"
  }
}
