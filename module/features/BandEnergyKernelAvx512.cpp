// Sixteen lanes, 32 registers; compiled with -mavx512f and without FMA.
#include "BandEnergyKernelImpl.h"

namespace corvanta::extensions::veyra::detail {

BandEnergyKernel avx512BandEnergyKernel() {
    return makeBandEnergyKernel</*lanes*/ 16, /*frame vectors*/ 2, /*bins per group*/ 6>();
}

}  // namespace corvanta::extensions::veyra::detail
