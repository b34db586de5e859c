#pragma once
// Start-up and release of the diagnostics framework, and its process-wide
// writers. Callers pass these writers as the extra writer of a report; no
// channel holds them.

class TDialogWriter;
class TSystemOutWriter;
class TListWriter;

// Registers TDebugEntries, TDebugEntry, TTraceEntry and TErrorEntry with the
// class registry, so entry files can be read back by class name, and
// creates the process-wide writers. Call once after startupBasis();
// calling again does nothing more.
void startupDebug();

// Destroys the channel pool with every channel, then the process-wide dialog,
// standard-output and list writers, in this order. Each is gone afterwards
// even when destroying it failed. A later getChannel makes a fresh pool.
void releaseDebug();

// The process-wide writers; nullptr before startupDebug and after releaseDebug.
TDialogWriter* dialogWriter();
TSystemOutWriter* systemOutWriter();
TListWriter* listWriter();
