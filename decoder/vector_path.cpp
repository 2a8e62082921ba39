#include "decoder/vector_path.h"

namespace {

bool ProcessorHasAvx2() {
#ifdef SONIVERT_X86
  __builtin_cpu_init();  // static initialisers may run before the compiler's own set-up
  return __builtin_cpu_supports("avx2") != 0;
#else
  return false;
#endif
}

const bool VectorAvailable = ProcessorHasAvx2();

}  // namespace

bool VectorPath = VectorAvailable;

bool UseVectorPath(bool on) {
  VectorPath = on && VectorAvailable;
  return VectorPath;
}
