#include "platform/Component.h"
#include "platform/ClassRegistry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace ie;

namespace {

// Keeps a reference to a component it does not own and drops it when told.
class TWatcher : public TComponent {
public:
    using TComponent::TComponent;
    std::string_view ClassName() const override { return "TWatcher"; }
    void SetTarget(TComponent* target) {
        if (Target) RemoveFreeNotification(Target);
        Target = target;
        if (Target) Target->FreeNotification(this);
    }
    void Notification(TComponent* component, TOperation operation) override {
        Log.push_back((operation == opInsert ? "+" : "-") + component->Name());
        if (operation == opRemove && component == Target) {
            Target = nullptr;
            // Told while the component is still whole: its class can be tested.
            TargetWasWatcher = dynamic_cast<TWatcher*>(component) != nullptr;
        }
        TComponent::Notification(component, operation);
    }
    TComponent* Target = nullptr;
    bool TargetWasWatcher = false;
    std::vector<std::string> Log;
};

class TThing : public TPersistent {
public:
    std::string_view ClassName() const override { return "TThing"; }
};

} // namespace

TEST(Component, AssignErrorNamesBothClasses) {
    TThing a, b;
    try {
        a.Assign(&b);
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "Cannot assign a TThing to a TThing");
    }
    try {
        a.Assign(nullptr);
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "Cannot assign a nil to a TThing");
    }
}

TEST(Component, OwnerFreesItsComponents) {
    auto* root = new TComponent(nullptr);
    auto* a = new TComponent(root);
    a->SetName("Alpha");
    auto* b = new TComponent(root);
    EXPECT_EQ(root->ComponentCount(), 2);
    EXPECT_EQ(root->FindComponent("alpha"), a);
    EXPECT_EQ(a->Owner(), root);
    b->Free();
    EXPECT_EQ(root->ComponentCount(), 1);
    root->Free(); // frees a too (ASan reports a leak otherwise)
}

TEST(Component, FreeNotificationClearsReferences) {
    TComponent formA(nullptr), formB(nullptr);
    auto* watcher = new TWatcher(&formA);
    auto* target = new TWatcher(&formB);
    target->SetName("target");
    watcher->SetTarget(target);
    target->Free();
    EXPECT_EQ(watcher->Target, nullptr);
    EXPECT_TRUE(watcher->TargetWasWatcher);

    // The link works both ways and is gone once dropped.
    auto* other = new TWatcher(&formB);
    other->SetName("other");
    other->SetTarget(watcher);
    watcher->Free();
    EXPECT_EQ(other->Target, nullptr);
    auto* third = new TWatcher(&formA);
    third->SetName("third");
    other->SetTarget(third);
    other->SetTarget(nullptr);
    const size_t told = other->Log.size();
    third->Free();
    EXPECT_EQ(other->Log.size(), told); // the dropped link tells nothing
}

TEST(Component, SiblingsAreToldThroughTheOwner) {
    TComponent form(nullptr);
    auto* watcher = new TWatcher(&form);
    auto* sibling = new TComponent(&form);
    sibling->SetName("sib");
    watcher->Target = sibling;
    sibling->FreeNotification(watcher); // same owner: no link needed
    sibling->Free();
    EXPECT_EQ(watcher->Target, nullptr);
    EXPECT_EQ(watcher->Log, (std::vector<std::string>{"+", "-sib"}));
}

TEST(ClassRegistry, RegisterFindCreate) {
    const TClassInfo& c = RegisterClass<TWatcher>("TWatcher");
    EXPECT_EQ(&RegisterClass<TWatcher>("TWatcher"), &c); // again: same entry
    RegisterClass<TThing>("TThing");
    EXPECT_THROW(RegisterClass<TComponent>("twatcher"), EException);
    EXPECT_EQ(GetClass("twatcher"), &c);
    EXPECT_EQ(GetClass("TNoSuch"), nullptr);
    try {
        FindClass("TNoSuch");
        FAIL();
    } catch (const EClassNotFound& e) {
        EXPECT_STREQ(e.what(), "Class TNoSuch not found");
    }
    TComponent owner(nullptr);
    TComponent* w = FindClass("TWatcher").CreateComponent(&owner);
    EXPECT_EQ(w->ClassName(), "TWatcher");
    EXPECT_EQ(w->Owner(), &owner);
    EXPECT_TRUE(c.IsInstance(w));
    EXPECT_FALSE(c.IsInstance(&owner));
    EXPECT_FALSE(c.IsInstance(nullptr));
    TObject* t = FindClass("TThing").Create();
    EXPECT_EQ(t->ClassName(), "TThing");
    EXPECT_THROW(FindClass("TThing").CreateComponent(&owner), EException);
    delete t;
    UnRegisterClass("TThing");
    EXPECT_EQ(GetClass("TThing"), nullptr);
}

TEST(ClassRegistry, RegisteredBases) {
    struct TBase : TComponent {
        using TComponent::TComponent;
    };
    struct TDerived : TBase {
        using TBase::TBase;
    };
    const TClassInfo& base = RegisterClass<TBase>("TTestBase");
    const TClassInfo& derived = RegisterClass<TDerived, TBase>("TTestDerived");
    EXPECT_TRUE(derived.InheritsFrom(&base));
    EXPECT_FALSE(base.InheritsFrom(&derived));
    TDerived d(nullptr);
    EXPECT_TRUE(base.IsInstance(&d));
}
