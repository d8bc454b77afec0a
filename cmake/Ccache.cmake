# ccache, when present. Paths under the source folder are hashed relative to it (and written
# relative into the debug information), so a fresh clone at another path reuses the objects an
# earlier clone put in the cache. Precompiled headers are cacheable only with the sloppiness
# below; ccache 4.7 takes its settings from the environment, hence `env`. A side effect:
# compiler messages and __FILE__ name sources relative to the build folder, so code must not
# find files through __FILE__.
find_program(CCACHE_PROGRAM ccache)
find_program(ENV_PROGRAM env)
if(CCACHE_PROGRAM AND ENV_PROGRAM AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  set(CMAKE_CXX_COMPILER_LAUNCHER
    ${ENV_PROGRAM}
    CCACHE_BASEDIR=${PROJECT_SOURCE_DIR}
    CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
    ${CCACHE_PROGRAM})
  add_compile_options(-fdebug-prefix-map=${PROJECT_SOURCE_DIR}=.)
endif()
