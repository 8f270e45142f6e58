#!/usr/bin/env bash
# Installs the stack as a user does into a temporary prefix, then runs the
# demo's scenario from there and builds another program against the
# installed header and library.
#   install_test.sh SOURCE_DIR WORK_DIR C_COMPILER JOBS [BUILD_DIR PREFIX]
# With BUILD_DIR and PREFIX (a build configured with that throw-away prefix)
# it installs that build there; otherwise it configures, builds and installs
# a build of its own with WORK_DIR/prefix (the library directory the adapter
# loads from is fixed when the build is configured).
set -euo pipefail
src=$1 work=$2 cc=$3 jobs=$4 this_build=${5:-} this_prefix=${6:-}
rm -rf "${work}"
mkdir -p "${work}"
fail() { echo "install test: $*" >&2; exit 1; }

if [ -n "${this_build}" ]; then
  prefix="${this_prefix}"
  rm -rf "${prefix}"
  echo "--- install this build into ${prefix}"
  cmake --install "${this_build}" > /dev/null
else
  prefix="${work}/prefix"
  echo "--- configure, build and install into ${prefix}"
  cmake -S "${src}" -B "${work}/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="${prefix}" \
    -DFP_BUILD_BENCH=OFF > "${work}/configure.log" || { cat "${work}/configure.log"; fail "configure failed"; }
  cmake --build "${work}/build" -j "${jobs}" --target fpdemo synthetic_fingers > "${work}/build.log" \
    || { tail -50 "${work}/build.log"; fail "build failed"; }
  cmake --install "${work}/build"
fi

libdir=$(dirname "$(find "${prefix}" -name fpmatch.so -print -quit)")
[ -n "${libdir}" ] && [ "${libdir}" != "." ] || fail "fpmatch.so was not installed"
for module in fpengine.so fpusbdrv.so; do
  [ -f "${libdir}/${module}" ] || fail "${module} is not beside fpmatch.so in ${libdir}"
done
[ -f "${prefix}/include/fpmatch.h" ] || fail "the exported header was not installed"
# The modules export their interfaces and nothing of the platform layer.
nm -D --defined-only "${libdir}/fpmatch.so" | grep -q ' RADU_alg_request_verify$' || fail "fpmatch lacks its exports"
nm -D --defined-only "${libdir}/fpengine.so" | grep -q ' WbioQueryEngineInterface$' || fail "fpengine lacks its export"

echo "--- the scenario from the installed demo"
"${prefix}/bin/fpdemo" --no-probes || fail "the installed demo failed"

echo "--- another program linking the installed library"
"${cc}" -std=c99 -Wall -Wextra -Werror -I"${prefix}/include" "$(dirname "$0")/install_example.c" \
  "${libdir}/fpmatch.so" -Wl,-rpath,"${libdir}" -o "${work}/example"
"${prefix}/bin/synthetic_fingers" "${work}/captures" --fingers 2 > /dev/null
one="${work}/captures/synthetic/s001" two="${work}/captures/synthetic/s002"
"${work}/example" "${one}"/e{1,2,3,4,5,6}.pgm "${one}/p7.pgm" "${two}/p7.pgm" | tee "${work}/example.log"
grep -qx "fpmatch ZR" "${work}/example.log" || fail "no version text"
grep -qx "${one}/p7.pgm: match" "${work}/example.log" || fail "the genuine probe did not match"
grep -qx "${two}/p7.pgm: no match" "${work}/example.log" || fail "the impostor probe matched"
rm -rf "${work}"
echo "install test passed"
