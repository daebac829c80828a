// Work that runs beside the window: its threads yield to the window's.
#pragma once

namespace threads {

// Lowers the calling thread's scheduling priority (ten steps of nice), so
// that when the cores are busy the window's thread, which paints and
// answers the user, is served first. Threads the calling thread starts
// afterwards inherit the lower priority.
void runBelowWindow();

// Gives the memory freed by a large piece of work (a batch of 200,000
// files) back to the system, so that the next one does not start from the
// last one's high-water mark.
void giveBackFreedMemory();

} // namespace threads
