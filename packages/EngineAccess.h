// What the packages that work on the concrete engine share: EngineOf, the context's engine as
// the runtime's TInferenceEngine. The one header of packages/ that includes the runtime's engine;
// a package includes it only when its functions need more of the engine than the context's
// IReasoner gives (scripts/check-layers keeps the list).
#pragma once

#include <string>

#include "engine/InferenceEngine.h"
#include "engine/model/IEContext.h"
#include "engine/model/IEPackages.h"

namespace ie {

// The engine of the context; a context without one is the class library's invalid cast.
inline TInferenceEngine& EngineOf(TIEContext* context) {
    TInferenceEngine* engine = ContextEngine(context);
    if (!engine) throw EInvalidCast(std::string(InvalidCastMessage));
    return *engine;
}

} // namespace ie
