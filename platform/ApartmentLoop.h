#pragma once
// The apartment of a program without Qt's event loop (parlen-say): posted calls wait in
// a queue, and the bound thread runs them when its own loop sees the descriptor ready.
namespace ApartmentLoop {
// Readable while calls wait; -1 when no apartment is bound.
int WakeDescriptor();
// Runs the calls that wait, in order, under the guard. Called on the bound thread.
void RunQueued();
}  // namespace ApartmentLoop
