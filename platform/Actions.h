// The non-visual action: a component whose Execute runs its OnExecute handler. Hosts hand actions
// to rules, which run them by reference ("execute-action").
#pragma once

#include "platform/Component.h"

namespace ie {

class TBasicAction : public TComponent {
public:
    explicit TBasicAction(TComponent* owner) : TComponent(owner) {}
    std::string_view ClassName() const override { return "TBasicAction"; }

    // Runs OnExecute; True when a handler ran (the action was handled), False without one.
    virtual bool Execute();

    TNotifyEvent OnExecute;
};

// Registers the published properties of TBasicAction (OnExecute, beside the component's).
void RegisterActionProperties();

} // namespace ie
