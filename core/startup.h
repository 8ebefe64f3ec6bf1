// The one place that knows the order in which the libraries start and end
// around the program's own work. The entry point fills in the steps of the
// libraries it links; a step left null is skipped, so a program without a
// window (the command-line tool) runs the same order with fewer steps.
#pragma once

struct LibrarySteps {
  // Start-up, after the string and memory libraries, in this order.
  void (*fileInit)();
  void (*windowInit)();
  void (*gadgetInit)();
  void (*requesterInit)();
  // Shut-down, in this order, before the memory library ends and the
  // program heap is destroyed.
  void (*archiveClose)();
  void (*gadgetEnd)();
  void (*windowEnd)();
  void (*fileEnd)();
};

// Creates the program heap, then runs StringLibraryInit, MemoryLibraryInit
// and the given start-up steps.
void RuntimeStartUp(const LibrarySteps& steps);
// Runs the given end steps, MemoryLibraryEnd, and destroys the program heap.
// Ending the process is left to the caller (its exit code is always 0).
void RuntimeShutDown(const LibrarySteps& steps);
