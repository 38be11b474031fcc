// libFuzzer target for the rule-language reader and writer (RunParserInput in FuzzInputs.h). Every
// package is linked, so the calls that are executed reach the built-in functions, behind the
// guards of FuzzInputs.h.
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
    ie::fuzz::RunParserInput(data, size);
    return 0;
}
