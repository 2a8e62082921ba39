#pragma once
// The scheduler's record back at its start-up values, for tests that link the application core.
#include <new>

#include "model/queue.h"
#include "platform/jobthread.h"

// The record holds a thread handle, which cannot be assigned, so it is rebuilt in place. A job
// thread an earlier test left running is asked to stop and joined first: destroying a handle
// whose thread is still joinable would end the whole test program.
inline void FreshConverter() {
  RequestJobStop(Converter.DecoderThread);
  JoinJobThread(Converter.DecoderThread);
  Converter.~ConverterState();
  new (&Converter) ConverterState();
}
