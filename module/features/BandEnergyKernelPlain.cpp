// Baseline instruction set: four lanes (SSE2 on x86-64), 16 registers.
#include "BandEnergyKernelImpl.h"

namespace corvanta::extensions::veyra::detail {

BandEnergyKernel plainBandEnergyKernel() {
    return makeBandEnergyKernel</*lanes*/ 4, /*frame vectors*/ 3, /*bins per group*/ 2>();
}

}  // namespace corvanta::extensions::veyra::detail
