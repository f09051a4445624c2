// Eight lanes, 16 registers; compiled with -mavx2 and without FMA.
#include "BandEnergyKernelImpl.h"

namespace corvanta::extensions::veyra::detail {

BandEnergyKernel avx2BandEnergyKernel() {
    return makeBandEnergyKernel</*lanes*/ 8, /*frame vectors*/ 3, /*bins per group*/ 2>();
}

}  // namespace corvanta::extensions::veyra::detail
