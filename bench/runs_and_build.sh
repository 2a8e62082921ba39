# Sourced by the whole-program benchmarks: reads [--runs N] [--build DIR] into runs and build,
# with runs set beforehand as the script's default.
build=build
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    *) echo "usage: $0 [--runs N] [--build DIR]" >&2; exit 2 ;;
  esac
done
