// libFuzzer target that runs its input as batch commands with rules fired (RunBatchInput in
// FuzzInputs.h). Files may be written, read, loaded and batched, all inside a scratch directory.
#include <cstddef>
#include <cstdint>

#include "FuzzInputs.h"
#include "platform/Assert.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    (void)ie::fuzz::ScratchDirectory();
    // The fuzz preset compiles the checks in: every input runs with the structure checkers.
    ie::SetStructureChecks(true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ie::fuzz::RunBatchInput(data, size);
    return 0;
}
