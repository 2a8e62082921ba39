#pragma once
// The scheduler's record back at its start-up values, for tests that link the application core.
#include <new>

#include "app/core/queue.h"

// The record holds a thread handle, which cannot be assigned, so it is rebuilt in place.
inline void FreshConverter() {
  Converter.~ConverterState();
  new (&Converter) ConverterState();
}
