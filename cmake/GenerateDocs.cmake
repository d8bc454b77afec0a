# Writes the manual page and the shell completions by asking the built program, which makes them
# from its own command table. HALVIK (the program) and OUT (a folder) come from the build rule.
file(MAKE_DIRECTORY "${OUT}")
# A sanitized build reports leaks at exit; none of that belongs in a generated file's build.
set(ENV{ASAN_OPTIONS} "detect_leaks=0")
function(generate file)
  execute_process(COMMAND "${HALVIK}" ${ARGN} OUTPUT_FILE "${OUT}/${file}.tmp" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "`halvik ${ARGN}` failed (${rc})")
  endif()
  file(RENAME "${OUT}/${file}.tmp" "${OUT}/${file}")
endfunction()
generate(halvik.1 help --man)
generate(halvik.bash completion bash)
generate(_halvik completion zsh)
generate(halvik.fish completion fish)
