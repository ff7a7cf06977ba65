#pragma once
// The end of veldra has been asked for (a termination signal, the session's end).  Every
// wait veldra makes looks at this between its polls and gives up, so the end sequence
// runs within moments instead of after a solver's time limit or a command's end.
//
// Set from a signal handler: a lock-free flag and nothing else.  Once set it stays set
// for the rest of the run.

// Async-signal-safe.
void RequestEnd() noexcept;
bool EndRequested() noexcept;
// Tests only: a run never takes its end back.
void ClearEndRequestForTests() noexcept;
