// Priority, suspension and resumption of the running job (the encoder process or the decoder
// thread), driven by the track bar PriorityTB and clicks on CurrentLB.
#pragma once
#include <cstdint>

// Process priority classes by PriorityTB position (0 Low, 1 Normal, 2 High): idle, normal, high,
// in the numbering of the platform the converter was first written for.
extern const uint32_t PriorityClassTable[3];

// Nice value for a process priority class of PriorityClassTable: idle 19, normal 0, high -5.
// An unknown class gives 0.
int NiceForPriorityClass(uint32_t priorityClass);
// Nice value of the PriorityTB position (0 Low, 1 Normal, 2 High) for the encoder process and
// for the decoder thread alike (Low 19, Normal 0, High -5); -1 is never returned: a position
// outside 0..2 gives Normal.
int PriorityNice(int position);
// True for a track bar position 0..2.
bool ValidPriorityPosition(int position);

// The PriorityTB position nearest to a nice value (19 Low, 0 Normal, -5 High; a tie goes to Normal).
int PriorityPositionOfNice(int nice);

// The track bar moved: a running job takes the priority of the new position at once; with no
// job running nothing happens (the next job starts with the position's priority).
void PriorityTBChange(int position);

// What became of the priority the running job was given.
enum JobPriorityResult {
  PriorityHeld,     // the job has it, or no job runs
  PriorityPending,  // the job's thread has not started yet: ask again
  PriorityRefused,  // the system refused it (errno says why); the job keeps another one
};
// Gives the running job the priority of `position` again and sees that it holds. On
// PriorityRefused, `actual` is the position of the priority the job really has.
JobPriorityResult ApplyJobPriority(int position, int& actual);

// CurrentLB was clicked. Acts only while it shows its hint (a job runs): suspends the job (the
// whole encoder process, or the decoder thread at its next frame), or resumes it and moves
// StartTick forward by the paused span.
void CurrentLBClick(bool hintShown);
