# The inputs that both the tests and the benchmarks use: the benchmark
# workloads (for the benchmarks and threads.stress) and the hostile inputs
# (checked by the tests, timed by the benchmarks). The product page's data is
# generated with a fixed seed at build time.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(PRODUCT_PAGE_SOURCE ${PROJECT_SOURCE_DIR}/bench/product_page)
set(PRODUCT_PAGE_DATA ${PROJECT_BINARY_DIR}/bench/product_page)
add_custom_command(
  OUTPUT ${PRODUCT_PAGE_DATA}/products.json ${PRODUCT_PAGE_DATA}/products_big.json
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PRODUCT_PAGE_DATA}
  COMMAND ${Python3_EXECUTABLE} ${PRODUCT_PAGE_SOURCE}/gen_data.py 200 ${PRODUCT_PAGE_DATA}/products.json
  COMMAND ${Python3_EXECUTABLE} ${PRODUCT_PAGE_SOURCE}/gen_data.py 5000 ${PRODUCT_PAGE_DATA}/products_big.json
  DEPENDS ${PRODUCT_PAGE_SOURCE}/gen_data.py ${PRODUCT_PAGE_SOURCE}/card.liquid
  COMMENT "Generating the product page data")
add_custom_target(product_page_data DEPENDS ${PRODUCT_PAGE_DATA}/products.json)

add_library(mervalt_workloads STATIC ${PROJECT_SOURCE_DIR}/bench/workloads.cpp)
add_dependencies(mervalt_workloads product_page_data)
target_include_directories(mervalt_workloads PUBLIC ${PROJECT_SOURCE_DIR}/bench)
target_compile_definitions(mervalt_workloads PRIVATE
  MERVALT_PRODUCT_PAGE_SOURCE="${PRODUCT_PAGE_SOURCE}"
  MERVALT_PRODUCT_PAGE_DATA="${PRODUCT_PAGE_DATA}")

add_library(mervalt_hostile_inputs STATIC ${PROJECT_SOURCE_DIR}/tests/hostile_inputs.cpp)
target_include_directories(mervalt_hostile_inputs PUBLIC ${PROJECT_SOURCE_DIR}/tests)
