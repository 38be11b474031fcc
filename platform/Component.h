// The object, persistent and component bases that the rest of the system builds on.
//
// TObject gives every class a name at run time (ClassName), used in messages and stored forms.
// TPersistent adds assignment between objects (Assign / AssignTo) and the stored properties a
// class defines for the stored-property writer and reader.
// TComponent adds ownership and free notification. Invariants:
//   - a component is in its owner's component list exactly while its Owner() is that owner;
//     the owner frees its components when it is destroyed;
//   - free notification is symmetric: when either of two linked components is destroyed, the
//     other gets Notification(destroyed, opRemove) while the destroyed one is still whole, and
//     the link is gone afterwards, so nobody keeps a pointer to a destroyed component.
// Destroy components with Free() (or delete): notifications are sent before any destructor
// runs when Free() is used, so a receiver may still dynamic_cast the component it is told of.
#pragma once

#include "platform/Exceptions.h"
#include "platform/RefCounted.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ie {

class TFiler;
class TPersistent;
class TComponent;

class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    // Ends the object's life record (TObjectLife), when it has one.
    virtual ~TObject();

    // The name of the most derived class; every class that can appear in a message or a stored
    // form overrides it.
    virtual std::string_view ClassName() const { return "TObject"; }

private:
    friend TRefPtr<class TObjectLife> TrackObjectLife(TObject* object);
    // Set once the object has a life record; its destructor then ends the record.
    bool FTracked = false;
};

// Whether an object still exists, for the holders that refer to an object they do not own
// (the rule language's object values): the object's destructor clears it, so a holder can tell
// a freed object from a live one instead of touching freed memory.
class TObjectLife final : public virtual TRefCounted {
public:
    explicit TObjectLife(TObject* object) noexcept : FObject(object) {}
    // Null once the object is destroyed.
    TObject* Object() const noexcept { return FObject; }

private:
    friend class TObject;
    TObject* FObject;
};

// The life record of the object, made on the first request; the same record afterwards until
// the object is destroyed. Destroying a tracked object costs a lookup; any other, nothing.
TRefPtr<TObjectLife> TrackObjectLife(TObject* object);
// The object's life record when it is tracked; null otherwise (and for null).
TRefPtr<TObjectLife> FindObjectLife(const TObject* object);

// Sender-only event.
using TNotifyEvent = std::function<void(TObject* sender)>;

// An event handler held apart: one pointer in the object instead of a whole std::function, for
// objects of which a program makes thousands and hardly any gets a handler (rules, patterns).
// Set, cleared, tested and called as the std::function it holds.
template <typename Signature> class TRareEvent {
public:
    using THandler = std::function<Signature>;

    TRareEvent() = default;
    TRareEvent& operator=(std::nullptr_t) noexcept {
        FHandler.reset();
        return *this;
    }
    TRareEvent& operator=(THandler handler) {
        if (handler)
            FHandler = std::make_unique<THandler>(std::move(handler));
        else
            FHandler.reset();
        return *this;
    }
    explicit operator bool() const noexcept { return FHandler != nullptr; }
    template <typename... TArgs> auto operator()(TArgs&&... args) const {
        return (*FHandler)(std::forward<TArgs>(args)...);
    }

private:
    std::unique_ptr<THandler> FHandler;
};

// A text held apart, for objects of which a program makes thousands and hardly any has the text
// (the comments of calls and patterns): one pointer, read as empty while none is set.
class TRareText {
public:
    const std::string& Get() const noexcept { return FText ? *FText : Empty(); }
    void Set(std::string_view text) {
        if (text.empty())
            FText.reset();
        else if (FText)
            FText->assign(text);
        else
            FText = std::make_unique<std::string>(text);
    }

private:
    static const std::string& Empty() noexcept {
        static const std::string none;
        return none;
    }
    std::unique_ptr<std::string> FText;
};

class TPersistent : public TObject {
public:
    std::string_view ClassName() const override { return "TPersistent"; }

    // Copies `source` into this object. The base asks the source to AssignTo this object, and
    // that refuses with "Cannot assign a %s to a %s" (source class or "nil", this class).
    virtual void Assign(const TPersistent* source);

    // Declares the stored properties of the object (TFiler::DefineProperty); none by default.
    virtual void DefineProperties(TFiler& filer) { (void)filer; }

protected:
    virtual void AssignTo(TPersistent& dest) const;
    // Raises the assignment error for copying `source` into this object.
    [[noreturn]] void AssignError(const TPersistent* source) const;
};

enum TOperation { opInsert, opRemove };

enum TComponentStateFlag : uint8_t {
    csLoading = 1,    // its stored properties are being read
    csReading = 2,    // the reader is setting its properties right now
    csDestroying = 4, // destruction has begun; notifications are being sent
};

class EComponentError : public EException {
public:
    using EException::EException;
};

class TComponent : public TPersistent {
public:
    explicit TComponent(TComponent* owner);
    ~TComponent() override;

    std::string_view ClassName() const override { return "TComponent"; }

    // Sends the destruction notifications and frees the component.
    void Free();
    // Sends the destruction notifications (free-notification partners, then the owner and its
    // components) while the object is still whole. Runs once; the destructor calls it when
    // Free() did not.
    void BeforeDestruction();

    TComponent* Owner() const { return FOwner; }
    const std::string& Name() const { return FName; }
    virtual void SetName(const std::string& name) { FName = name; }

    int32_t ComponentCount() const { return static_cast<int32_t>(FComponents.size()); }
    TComponent* Components(int32_t index) const;
    // The first owned component whose name equals `name` ignoring ASCII letter case, or null.
    TComponent* FindComponent(std::string_view name) const;
    // Takes `component` into this component's list (leaving its previous owner); the owner and
    // all its components are told with opInsert.
    void InsertComponent(TComponent* component);
    // Releases `component` from this component's list without freeing it; the owner and all
    // its remaining components are told with opRemove.
    void RemoveComponent(TComponent* component);
    // Frees the owned components, last first.
    void DestroyComponents();

    // Links this component and `component` so that each is told when the other is destroyed.
    // Components with the same owner need no link: the owner tells its components anyway.
    void FreeNotification(TComponent* component);
    void RemoveFreeNotification(TComponent* component);

    uint8_t ComponentState() const { return FState; }
    bool IsLoading() const { return (FState & csLoading) != 0; }
    bool IsDestroying() const { return (FState & csDestroying) != 0; }
    // Marks the component as being read from its stored form; Loaded() ends it.
    void BeginLoading() { FState |= csLoading | csReading; }
    virtual void Loaded() { FState &= static_cast<uint8_t>(~(csLoading | csReading)); }

    // Told of components inserted into or removed from this component's owner tree and of
    // linked components being destroyed. Overrides drop their references to `component` on
    // opRemove and call the base, which forwards to the owned components.
    virtual void Notification(TComponent* component, TOperation operation);

private:
    void AddFreeNotify(TComponent* component);
    void DropFreeNotify(TComponent* component);

    TComponent* FOwner = nullptr;
    std::string FName;
    std::vector<TComponent*> FComponents;
    std::vector<TComponent*> FFreeNotifies;
    uint8_t FState = 0;
    bool FNotified = false;
};

// unique_ptr deleter for components: for std::unique_ptr<T, TComponentDeleter>.
struct TComponentDeleter {
    void operator()(TComponent* c) const {
        if (c) c->Free();
    }
};

// Frees an object of its own making: a component through Free (unless it is already going), any
// other object by delete. Null is nothing to free.
void FreeObject(TObject* object);

// Runs `body` between target.BeginUpdate() and target.EndUpdate(), ending the update also when
// the body raises (lists, tables and graphs tell their owners of a batch of changes once).
template <class T, class F> void WithinUpdate(T& target, F&& body) {
    target.BeginUpdate();
    try {
        body();
    } catch (...) {
        target.EndUpdate();
        throw;
    }
    target.EndUpdate();
}

} // namespace ie
