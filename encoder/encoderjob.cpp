#include "encoder/encoderjob.h"

#include <cstdio>

#include "decoder/framing/framing.h"
#include "model/queue.h"
#include "platform/jobthread.h"
#include "platform/outputfile.h"

bool EncoderJobSucceeded(const ProcessInfo& process, int32_t framesDone) {
  if (!process.Ended || !process.ExitedNormally || framesDone < 0) return false;
  return process.ExitCode == static_cast<uint32_t>(framesDone) % 256u;
}

std::string EncoderJobFailure(const ProcessInfo& process, int32_t framesDone, const std::string& output,
                              const FileIdentity& before) {
  if (!process.Ended) return "the encoder's end was not seen";
  if (!process.ExitedNormally) {
    if (process.ExitCode == ProcessLostCode) return "the encoder's end could not be observed";
    return "the encoder was ended by signal " + std::to_string(process.ExitCode - ProcessKilledBase);
  }
  const std::string status = "exit status " + std::to_string(process.ExitCode);
  if (framesDone < 0) return status + ", before any progress line";
  if (!EncoderJobSucceeded(process, framesDone))
    return status + ", not the frame count " + std::to_string(framesDone) + " modulo 256";
  const std::string written = FollowLinks(output);
  const FileIdentity now = IdentityOf(written);
  if (!now.Exists || !now.Regular || SameIdentity(now, before)) return status + ", but the output was not written";
  if (!BeginsWithMpegFrame(written)) return status + ", but the output holds no whole MPEG audio frame";
  return {};
}

bool BeginsWithMpegFrame(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  uint8_t h[4] = {};
  const bool read = std::fread(h, 1, 4, file) == 4 && std::fseek(file, 0, SEEK_END) == 0;
  const long size = read ? std::ftell(file) : 0;
  std::fclose(file);
  FrameFacts facts;
  // The twelve sync bits: the MPEG 2.5 pattern, which the encoder never writes, is no frame of it.
  return read && ParseFrameHeader(h, facts) && !facts.Mpeg25 && size >= facts.Length;
}

uint32_t ReadJobExitCode() {
  if (!Converter.EncoderJob) return JobThreadExitCode(Converter.DecoderThread);
  return ProcessExitCode(Converter.EncoderProcess);
}

void StopRunningJob() {
  if (Converter.EncoderJob) {
    if (ProcessExitCode(Converter.EncoderProcess) == STILL_ACTIVE) TerminateProcess(Converter.EncoderProcess);
  } else if (JobThreadExitCode(Converter.DecoderThread) == STILL_ACTIVE) {
    RequestJobStop(Converter.DecoderThread);
  }
}

void KillRunningEncoder() {
  if (Converter.EncoderJob && ProcessExitCode(Converter.EncoderProcess) == STILL_ACTIVE)
    KillProcess(Converter.EncoderProcess);
}

void FinishRunningJob(const std::string& output) {
  // Each call does nothing without a thread that was started or a process that has not ended.
  if (JobThreadExitCode(Converter.DecoderThread) == STILL_ACTIVE) RequestJobStop(Converter.DecoderThread);
  JoinJobThread(Converter.DecoderThread);
  if (ProcessExitCode(Converter.EncoderProcess) != STILL_ACTIVE) return;
  TerminateProcess(Converter.EncoderProcess);
  if (!WaitProcessEndFor(Converter.EncoderProcess, static_cast<int>(EncoderStopGraceMs))) {
    KillProcess(Converter.EncoderProcess);
    WaitProcessEnd(Converter.EncoderProcess);
  }
  if (!output.empty()) RemoveLeftoverOutputs(output, Converter.EncoderProcess.Pid);
}
