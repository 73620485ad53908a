#!/usr/bin/env bash
# qmllint over the views with every check it runs by default, types included:
# the views and the C++ types of Tellwind.Core are read from the build, as the
# QML compiler reads them. The one category left at its default (off) is
# "compiler": Qt 6.4's qmlcachegen cannot turn some ordinary constructs (a
# bit-or of window flags, `let` inside a block) into C++, and those bindings
# run as byte code, which is no fault.
#
#   check_qml.sh BUILD QMLLINT QT_QML_DIR
# The build passes Qt 6's own qmllint and module folder, as its CMake package
# names them: the first qmllint on PATH may be qtchooser's, which runs Qt 5's.
set -u
build=$(realpath "${1:?build folder}")
qmllint=${2:?qmllint of Qt 6}
qt_qml=${3:?QML module folder of Qt 6}
cd "$(dirname "$0")/../../src/views"
resources=()
for qrc in "$build"/src/views/.rcc/qmake_Tellwind_Views.qrc "$build"/src/views/.rcc/tellwind_views_raw_qml_*.qrc; do
    [ -f "$qrc" ] || { echo "missing $qrc: build tellwind_views first"; exit 1; }
    resources+=(--resource "$qrc")
done
exec "$qmllint" --bare -I "$build/qml" -I "$qt_qml" "${resources[@]}" ./*.qml
