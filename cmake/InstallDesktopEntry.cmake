# Writes the launcher entry naming the program by its full installed path. That path is known
# only now: `cmake --install --prefix` may install somewhere other than the configured prefix.
# HALVIK_DESKTOP_IN, HALVIK_BINDIR and HALVIK_DATADIR come from the install rules.
file(READ "${HALVIK_DESKTOP_IN}" entry)
string(REPLACE "@HALVIK_EXEC@" "${CMAKE_INSTALL_PREFIX}/${HALVIK_BINDIR}/halvik" entry "${entry}")
set(folder "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${HALVIK_DATADIR}/applications")
file(MAKE_DIRECTORY "${folder}")
message(STATUS "Installing: ${folder}/halvik.desktop")
file(WRITE "${folder}/halvik.desktop" "${entry}")
