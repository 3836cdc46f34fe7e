#pragma once

// Marks what the shared library exports. It is built with every other symbol
// hidden, so a program that links it never collides with its internals.
#define LDS_API __attribute__((visibility("default")))
