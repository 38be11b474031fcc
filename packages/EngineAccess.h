// What the packages that work on the concrete engine share: EngineOf, the context's engine as
// the runtime's TInferenceEngine. The one header of packages/ that includes the runtime's engine;
// a package includes it only when its functions need more of the engine than the context's
// IReasoner gives (scripts/check-layers keeps the list).
#pragma once

#include <string>
#include <typeinfo>

#include "engine/InferenceEngine.h"
#include "engine/model/IEContext.h"
#include "engine/model/IEPackages.h"

namespace ie {

// The engine of the context; a context without one is the class library's invalid cast.
inline TInferenceEngine& EngineOf(TIEContext* context) {
    // Nearly always the engine class itself: its exact type is checked for less than a cast
    // costs (functions call this once per call); a derived engine or another reasoner takes the
    // cast.
    IReasoner* reasoner = context ? context->Engine() : nullptr;
    if (reasoner && typeid(*reasoner) == typeid(TInferenceEngine))
        return *static_cast<TInferenceEngine*>(reasoner);
    TInferenceEngine* engine = ContextEngine(context);
    if (!engine) throw EInvalidCast(std::string(InvalidCastMessage));
    return *engine;
}

} // namespace ie
