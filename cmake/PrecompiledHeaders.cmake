# Precompiled headers for the Qt, QCoro and JSON headers that nearly every file includes. A
# precompiled header is only valid for the exact compile flags it was made with, so each family
# of targets with the same flags makes one and the rest of the family reuses it.
option(HALVIK_PCH "Precompile the Qt, QCoro and JSON headers" ON)

set(HALVIK_PCH_QTCORE
  <algorithm> <functional> <memory> <optional> <vector>
  <QByteArray> <QDateTime> <QDir> <QFile> <QFileInfo> <QHash> <QList> <QMap> <QObject> <QPointer>
  <QRegularExpression> <QSet> <QString> <QStringList> <QStringView> <QUrl>)
set(HALVIK_PCH_CORE ${HALVIK_PCH_QTCORE}
  <QElapsedTimer> <QJsonArray> <QJsonDocument> <QJsonObject> <QProcess> <QTemporaryDir> <QTimer>
  <QtConcurrent/QtConcurrentRun> <QCoroFuture> <QCoroSignal> <QCoroTask> <nlohmann/json.hpp>)
set(HALVIK_PCH_WIDGETS ${HALVIK_PCH_CORE}
  <QApplication> <QDialog> <QLabel> <QLineEdit> <QListView> <QPushButton> <QVBoxLayout> <QWidget>)
set(HALVIK_PCH_TESTS ${HALVIK_PCH_WIDGETS} <QSignalSpy> <QTest>)

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
    target_precompile_headers(${target} REUSE_FROM ${from})
  endif()
endfunction()
