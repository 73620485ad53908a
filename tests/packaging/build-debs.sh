# Sourced by the packaging tests: builds what the packages hold and makes
# them into $debs, as `make package` does.
build=${TELLWIND_BUILD_DIR:?}
debs=$build/packaging-test/debs
mkdir -p "$build/packaging-test"
nice cmake --build "$build" -j 2 --target tellwind tellwind-server tellwind-model-probe package_files >/dev/null ||
    { echo "FAIL: the packaged programs do not build" >&2; exit 1; }
rm -rf "$debs"
(cd "$build" && cpack -B "$debs") >"$build/packaging-test/cpack.log" 2>&1 ||
    { cat "$build/packaging-test/cpack.log" >&2; echo "FAIL: cpack" >&2; exit 1; }
