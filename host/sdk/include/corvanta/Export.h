#pragma once

// Symbols of the host libraries that extension modules link against.
#define CORVANTA_API __attribute__((visibility("default")))
