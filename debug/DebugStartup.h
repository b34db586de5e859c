#pragma once
// Start-up and release of the diagnostics framework.

class TDialogWriter;
class TSystemOutWriter;
class TListWriter;

// Registers the entry classes and the entry list with the class registry, so
// entry files can be read back by class name, and creates the process-wide
// writers. Call once after startupBasis(); calling again does nothing.
void startupDebug();

// Destroys the channel pool with every channel, then the process-wide dialog,
// standard-output and list writers, in this order. Each is gone afterwards
// even when destroying it failed. A later getChannel makes a fresh pool.
void releaseDebug();
