# The guard that keeps Qt out of the core: a directory of headers named as the Qt headers the core
# could reach (bare, and under each module's folder), each an #error. It comes before every other
# include directory of the core, so a Qt include there fails to build; tests/probe/QtInCore.cpp
# proves it. Written at configure time into the build tree (a file is rewritten only when its text
# changes). Sets VARNEL_NOQT_DIR.
set(VARNEL_NOQT_DIR ${CMAKE_BINARY_DIR}/noqt)
set(_varnel_noqt_headers
    QApplication QByteArray QCoreApplication QDebug QDir QFile QGuiApplication QHash QList QMap
    QMutex QObject QSettings QString QStringList QThread QTimer QVariant QVector QWidget)
set(_varnel_noqt_modules QtCore QtGui QtWidgets)
set(_varnel_noqt_text
    "#error \"The core library links no Qt: this code belongs in the program, or should use the standard library.\"\n")
foreach(_header IN LISTS _varnel_noqt_headers)
    file(CONFIGURE OUTPUT ${VARNEL_NOQT_DIR}/${_header} CONTENT "${_varnel_noqt_text}")
endforeach()
foreach(_module IN LISTS _varnel_noqt_modules)
    foreach(_header IN LISTS _varnel_noqt_headers _varnel_noqt_modules)
        file(CONFIGURE OUTPUT ${VARNEL_NOQT_DIR}/${_module}/${_header} CONTENT "${_varnel_noqt_text}")
    endforeach()
endforeach()
