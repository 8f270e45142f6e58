// Visibility of the exported interface of the shared library.
#pragma once

// Marks the functions that the shared library exports (the RADU_ interface).
#define FPMATCH_EXPORT extern "C" __attribute__((visibility("default")))
