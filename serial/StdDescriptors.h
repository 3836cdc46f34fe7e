#pragma once

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed. A program
// started with its standard output or error closed (by a service manager or a
// detached shell) would otherwise get one of its own files on that number,
// and console output would then land in the file, or replace it.
// Call first in main, before any file, pipe or socket is opened.
void EnsureStandardDescriptors();
