#include "RuntimeEnvironment.h"

#include <sched.h>

#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <utility>

#include "corvanta/onnx/ModelInstance.h"

namespace corvanta::extensions::onnx {
namespace {

// Threading choice. By default ONNX Runtime gives every session its own
// intra-op pool as large as the machine, so a process with many nodes would
// start many pools that fight over the same cores. Instead all sessions share
// one global pool sized to the physical cores this process may run on
// (hyper-threads add little to these compute-bound kernels), and its threads
// block rather than spin when idle, so an application holding many mostly
// idle models burns no CPU between inferences. Models run their nodes in
// sequence, so the inter-op pool gets a single thread.

std::string readFirstLine(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

// Distinct (package, core) pairs among the CPUs in this process's affinity
// mask; 0 when the topology cannot be read.
unsigned physicalCoresInAffinity() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof(allowed), &allowed) != 0) return 0;
    std::set<std::pair<std::string, std::string>> cores;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (!CPU_ISSET(cpu, &allowed)) continue;
        const std::string topology = "/sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/topology/";
        std::string package = readFirstLine(topology + "physical_package_id");
        std::string core = readFirstLine(topology + "core_id");
        if (core.empty()) return 0;
        cores.emplace(std::move(package), std::move(core));
    }
    return static_cast<unsigned>(cores.size());
}

int poolSize() {
    unsigned cores = physicalCoresInAffinity();
    if (cores == 0) cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : static_cast<int>(cores);
}

std::shared_ptr<Ort::Env> createEnvironment() {
    try {
        Ort::ThreadingOptions threading;
        threading.SetGlobalIntraOpNumThreads(poolSize());
        threading.SetGlobalInterOpNumThreads(1);
        threading.SetGlobalSpinControl(0);
        return std::make_shared<Ort::Env>(threading, ORT_LOGGING_LEVEL_WARNING, "CorvantaOnnx");
    } catch (const Ort::Exception& e) {
        throw ModelError(std::string("Cannot create the ONNX Runtime environment: ") + e.what());
    }
}

}  // namespace

std::shared_ptr<Ort::Env> sharedEnvironment() {
    static const std::shared_ptr<Ort::Env> environment = createEnvironment();
    return environment;
}

Ort::SessionOptions sharedPoolSessionOptions() {
    Ort::SessionOptions options;
    options.DisablePerSessionThreads();
    options.SetGraphOptimizationLevel(GraphOptimizationLevel::ORT_ENABLE_ALL);
    return options;
}

}  // namespace corvanta::extensions::onnx
