#pragma once
// Start-up work of the base library; call once before anything reads object
// files (the program's main and every test main do).

// Registers the persistable base classes with the class registry, in their
// fixed order, and seeds the pseudo-random generator from the clock.
void startupBasis();
