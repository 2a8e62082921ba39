#include "decoder/layer3.h"

// The one decoder block; zero at program start like every static object.
Layer3Decoder Decoder;
