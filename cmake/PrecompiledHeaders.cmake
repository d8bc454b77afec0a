# Precompiled headers for the Qt and QCoro headers that nearly every file includes. A
# precompiled header is only valid for the exact compile flags it was made with, so each family
# of targets with the same flags makes one and the rest of the family reuses it.
#
# Keep the lists short: g++ reads the whole precompiled header into every compile, and one that
# also held the JSON, widget and test headers (200-300 MB) cost as much to load as it saved.
option(HALVIK_PCH "Precompile the most used Qt and QCoro headers" ON)

set(HALVIK_PCH_QTCORE <functional> <memory> <optional> <QObject> <QString> <QStringList>)
set(HALVIK_PCH_CORE ${HALVIK_PCH_QTCORE} <QDir> <QFileInfo> <QCoroTask>)
set(HALVIK_PCH_WIDGETS ${HALVIK_PCH_CORE} <QWidget>)
set(HALVIK_PCH_TESTS ${HALVIK_PCH_CORE} <QTest>)

# halvik_precompile(<target> <header list>): give <target> its own precompiled header.
function(halvik_precompile target)
  if(HALVIK_PCH)
    target_precompile_headers(${target} PRIVATE ${ARGN})
  endif()
endfunction()

# halvik_reuse_precompiled(<target> <from>): use the header <from> made; both must have the
# same compile flags (a mismatch shows as an invalid-PCH warning, an error under HALVIK_WERROR).
function(halvik_reuse_precompiled target from)
  if(HALVIK_PCH)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "SHARED_LIBRARY")
      # A shared library is compiled with its own <target>_EXPORTS definition, which a header
      # precompiled for another target lacks: it makes its own from the same list.
      get_target_property(headers ${from} PRECOMPILE_HEADERS)
      target_precompile_headers(${target} PRIVATE ${headers})
    else()
      target_precompile_headers(${target} REUSE_FROM ${from})
    endif()
  endif()
endfunction()
