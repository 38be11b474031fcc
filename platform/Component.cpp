// TObject's life records, TPersistent's assignment and TComponent's ownership and free
// notification. Free() tells a component's partners and leaves its owner before any destructor
// runs, and each link is dropped on both sides before the partner is told, so no receiver sees a
// half-destroyed component or loops forever. Only objects handed to rules pay for a life record.
#include "platform/Component.h"

#include "platform/Format.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <unordered_map>

namespace ie {

// ---------------------------------------------------------------------------------------------
// TObject and its life records

namespace {

struct TObjectLives {
    std::mutex Lock;
    std::unordered_map<const TObject*, TRefPtr<TObjectLife>> Records;
    // Records.size(), read without the lock by the look-ups; a look-up may be given an address
    // that is no object, so it cannot ask the object itself.
    std::atomic<size_t> Count{0};
};

TObjectLives& ObjectLives() {
    // Never destroyed: objects may outlive the statics of this unit.
    static auto* lives = new TObjectLives;
    return *lives;
}

} // namespace

TObject::~TObject() {
    // Only a tracked object pays for the lock: facts and activations go by the million.
    if (!FTracked) return;
    TObjectLives& lives = ObjectLives();
    TRefPtr<TObjectLife> record;
    {
        std::lock_guard<std::mutex> lock(lives.Lock);
        auto it = lives.Records.find(this);
        if (it == lives.Records.end()) return;
        record = std::move(it->second);
        lives.Records.erase(it);
        lives.Count.store(lives.Records.size(), std::memory_order_release);
    }
    record->FObject = nullptr;
}

TRefPtr<TObjectLife> TrackObjectLife(TObject* object) {
    if (!object) return nullptr;
    TObjectLives& lives = ObjectLives();
    std::lock_guard<std::mutex> lock(lives.Lock);
    TRefPtr<TObjectLife>& record = lives.Records[object];
    if (!record) record = MakeRef<TObjectLife>(object);
    object->FTracked = true;
    lives.Count.store(lives.Records.size(), std::memory_order_release);
    return record;
}

TRefPtr<TObjectLife> FindObjectLife(const TObject* object) {
    TObjectLives& lives = ObjectLives();
    if (!object || lives.Count.load(std::memory_order_acquire) == 0) return nullptr;
    std::lock_guard<std::mutex> lock(lives.Lock);
    auto it = lives.Records.find(object);
    return it == lives.Records.end() ? nullptr : it->second;
}

void FreeObject(TObject* object) {
    if (auto* component = dynamic_cast<TComponent*>(object)) {
        if (!component->IsDestroying()) component->Free();
    } else {
        delete object;
    }
}

// ---------------------------------------------------------------------------------------------
// TPersistent

void TPersistent::Assign(const TPersistent* source) {
    if (source == nullptr) AssignError(nullptr);
    source->AssignTo(*this);
}

void TPersistent::AssignTo(TPersistent& dest) const {
    dest.AssignError(this);
}

void TPersistent::AssignError(const TPersistent* source) const {
    std::string_view sourceName = source ? source->ClassName() : std::string_view("nil");
    throw EConvertError(Format("Cannot assign a %s to a %s", sourceName, ClassName()));
}

// ---------------------------------------------------------------------------------------------
// TComponent

TComponent::TComponent(TComponent* owner) {
    if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
    BeforeDestruction();
    DestroyComponents();
}

void TComponent::Free() {
    BeforeDestruction();
    delete this;
}

void TComponent::BeforeDestruction() {
    if (FNotified) return;
    FNotified = true;
    FState |= csDestroying;
    // The link is dropped on both sides before the partner is told, so a partner that does not
    // call the base Notification cannot make this loop run forever.
    while (!FFreeNotifies.empty()) {
        TComponent* partner = FFreeNotifies.back();
        FFreeNotifies.pop_back();
        partner->DropFreeNotify(this);
        partner->Notification(this, opRemove);
    }
    if (FOwner) FOwner->RemoveComponent(this);
}

TComponent* TComponent::Components(int32_t index) const {
    if (index < 0 || index >= ComponentCount())
        throw EListError(Format("List index out of bounds (%d)", index));
    return FComponents[static_cast<size_t>(index)];
}

TComponent* TComponent::FindComponent(std::string_view name) const {
    if (name.empty()) return nullptr;
    for (TComponent* c : FComponents)
        if (SameText(c->FName, name)) return c;
    return nullptr;
}

void TComponent::InsertComponent(TComponent* component) {
    if (component == nullptr || component->FOwner == this) return;
    if (component->FOwner) component->FOwner->RemoveComponent(component);
    FComponents.push_back(component);
    component->FOwner = this;
    Notification(component, opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
    if (component == nullptr || component->FOwner != this) return;
    Notification(component, opRemove);
    auto it = std::find(FComponents.begin(), FComponents.end(), component);
    if (it != FComponents.end()) FComponents.erase(it);
    component->FOwner = nullptr;
}

void TComponent::DestroyComponents() {
    while (!FComponents.empty()) {
        TComponent* c = FComponents.back();
        RemoveComponent(c);
        c->Free();
    }
}

void TComponent::FreeNotification(TComponent* component) {
    if (component == nullptr || component == this) return;
    if (FOwner != nullptr && component->FOwner == FOwner) return;
    AddFreeNotify(component);
    component->AddFreeNotify(this);
}

void TComponent::RemoveFreeNotification(TComponent* component) {
    if (component == nullptr) return;
    DropFreeNotify(component);
    component->DropFreeNotify(this);
}

void TComponent::Notification(TComponent* component, TOperation operation) {
    if (operation == opRemove && component != nullptr) RemoveFreeNotification(component);
    // Counting down, and re-checking the bound, because a receiver may free or release
    // components of this one while it is told.
    for (size_t i = FComponents.size(); i-- > 0;) {
        if (i >= FComponents.size()) continue;
        FComponents[i]->Notification(component, operation);
    }
}

void TComponent::AddFreeNotify(TComponent* component) {
    if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), component) == FFreeNotifies.end())
        FFreeNotifies.push_back(component);
}

void TComponent::DropFreeNotify(TComponent* component) {
    auto it = std::find(FFreeNotifies.begin(), FFreeNotifies.end(), component);
    if (it != FFreeNotifies.end()) FFreeNotifies.erase(it);
}

} // namespace ie
