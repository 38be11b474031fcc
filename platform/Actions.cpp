// TBasicAction's Execute and the table of its published OnExecute property, through which rules
// set and read an action's handler by name. The table is registered once, after the component
// table it extends, whether start-up code or the first caller gets there first.
#include "platform/Actions.h"

#include "platform/PropertyInfo.h"

namespace ie {

bool TBasicAction::Execute() {
    if (!OnExecute) return false;
    OnExecute(this);
    return true;
}

void RegisterActionProperties() {
    static const bool registered = [] {
        RegisterPlatformProperties();
        TPropertyTable& table = PropertyTableOf<TBasicAction, TComponent>("TBasicAction");
        table.Add({"OnExecute",
                   tkMethod,
                   "TNotifyEvent",
                   {},
                   [](const TObject& o) -> TPropertyValue {
                       return std::any(static_cast<const TBasicAction&>(o).OnExecute);
                   },
                   [](TObject& o, const TPropertyValue& v) {
                       const auto* a = std::get_if<std::any>(&v);
                       const auto* handler = a ? std::any_cast<TNotifyEvent>(a) : nullptr;
                       if (!handler) throw EPropertyError("Invalid property value");
                       static_cast<TBasicAction&>(o).OnExecute = *handler;
                   }});
        return true;
    }();
    (void)registered;
}

namespace {
const bool ActionPropertiesRegistered = (RegisterActionProperties(), true);
} // namespace

} // namespace ie
