#pragma once

// Marks what the shared library exports: the library is built with hidden
// symbols, so only the declarations that carry this are visible to programs.
#define TONBRIX_API __attribute__((visibility("default")))
