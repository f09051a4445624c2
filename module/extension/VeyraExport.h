#pragma once

// The module hides everything by default; VEYRA_API marks what the host may
// reach through the module's export table.
#if defined(_WIN32)
#define VEYRA_API __declspec(dllexport)
#else
#define VEYRA_API __attribute__((visibility("default")))
#endif
