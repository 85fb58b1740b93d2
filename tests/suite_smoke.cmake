# Runs voxgrid-suite briefly, one case per benchmark, and checks that standard
# output holds one JSON document and nothing else (no line from a layout test).
execute_process(
  COMMAND "${SUITE}" "--benchmark_filter=threads:1/|team_of_4" --benchmark_min_time=0.01
          --benchmark_repetitions=1 --benchmark_format=json
  OUTPUT_VARIABLE out
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT out MATCHES "^{.*}\n$")
  message(FATAL_ERROR "exit status ${rc}; standard output is not a lone JSON document:\n${out}")
endif()
string(JSON count ERROR_VARIABLE err LENGTH "${out}" benchmarks)
if(err OR NOT count EQUAL 5)
  message(FATAL_ERROR "expected 5 benchmarks in valid JSON (${err}):\n${out}")
endif()
