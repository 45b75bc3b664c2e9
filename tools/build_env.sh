# Sourced by the build and test scripts: settings every build on this shared two-core machine
# gets. Not a script of its own.

# Builds started through pip (scikit-build-core) use this many jobs; the machine has two cores.
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2}

# ccache serves the engine's objects to every later build with the same flags: the four
# per-version module builds compile only the binding anew. With the base directory set,
# paths inside the checkout hash as relative ones, so another clone hits the same entries.
if command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
fi
