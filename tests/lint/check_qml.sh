#!/usr/bin/env bash
# qmllint over the views with every check it runs by default, types included:
# the views and the C++ types of Tellwind.Core are read from the build, as the
# QML compiler reads them. The one category left at its default (off) is
# "compiler": Qt 6.4's qmlcachegen cannot turn some ordinary constructs (a
# bit-or of window flags, `let` inside a block) into C++, and those bindings
# run as byte code, which is no fault.
set -u
build=$(realpath "${1:?build folder}")
cd "$(dirname "$0")/../../src/views"
# Qt 6's own first: with qtchooser installed (KDE's qdbus brings it), a
# plain `qmllint` is Qt 5's.
qmllint=$(command -v qmllint6 || { [ -x /usr/lib/qt6/bin/qmllint ] && echo /usr/lib/qt6/bin/qmllint; } \
    || command -v qmllint)
resources=()
for qrc in "$build"/src/views/.rcc/qmake_Tellwind_Views.qrc "$build"/src/views/.rcc/tellwind_views_raw_qml_*.qrc; do
    [ -f "$qrc" ] || { echo "missing $qrc: build tellwind_views first"; exit 1; }
    resources+=(--resource "$qrc")
done
exec "$qmllint" --bare -I "$build/qml" -I /usr/lib/x86_64-linux-gnu/qt6/qml "${resources[@]}" ./*.qml
